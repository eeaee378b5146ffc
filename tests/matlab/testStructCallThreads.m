function testStructCallThreads(cases)
% CORVANE_THREADS, read at every call: 1, 2, 3 and 8 threads and the
% default (every hardware thread) give the C++ core's bits on every frame;
% a value that is not a thread count is a Corvane:badThreads error that
% leaves the caller's model as it was.
rec = readReferenceRecords(fullfile(cases, 'update_random.bin'));
names = modelFieldNames();
start = modelFromRecords(rec, '');
K = start.NumMapRows * start.NumMapColumns;
nhood = reshape(rec.matrix, K, K);
frames = reshape(rec.frames, start.NumImageRows, start.NumImageColumns, 3, rec.T);
saved = getenv('CORVANE_THREADS');
cleanup = onCleanup(@() setenv('CORVANE_THREADS', saved));
for setting = {'1', '2', '3', '8', ''}
  setenv('CORVANE_THREADS', setting{1});
  model = start;
  for t = 1:rec.T
    model = Corvane(model, frames(:, :, :, t), nhood);
    for i = 1:numel(names)
      expectBits(model.(names{i}), rec.(sprintf('after%d_%s', t, names{i})), ...
                 sprintf('CORVANE_THREADS=''%s'', frame %d, field %s', setting{1}, t, names{i}));
    end
  end
end
snap = snapshotBits(start);
for bad = {'many', '-1', '2.5', '100000'}
  setenv('CORVANE_THREADS', bad{1});
  err = expectError(@() Corvane(start, frames(:, :, :, 1), nhood), 'Corvane:badThreads', ...
                    ['CORVANE_THREADS=' bad{1}]);
  if isempty(strfind(err.message, bad{1}))
    error('test:message', 'the message ''%s'' does not quote the value', err.message);
  end
  expectSnapshot(start, snap, ['CORVANE_THREADS=' bad{1}]);
end
fprintf('every thread count gives the core''s bits\n');
end
