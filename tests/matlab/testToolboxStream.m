function testToolboxStream(cases)
% corvaneStep segments a video exactly as the C++ setup does around each
% update (start from the frames so far, prior band, flicker tracking, update,
% mask): masks and every model field after every frame, bit for bit, for the
% defaults, a band that binds at both ends and flicker tracking off. It also
% refuses what it cannot use without touching the state.
files = dir(fullfile(cases, 'stream_*.bin'));
if numel(files) < 3
  error('test:cases', 'expected at least 3 stream cases in %s, found %d', cases, numel(files));
end
names = modelFieldNames();
for f = 1:numel(files)
  what = files(f).name;
  rec = readReferenceRecords(fullfile(cases, what));
  params = struct();
  recordNames = fieldnames(rec);
  for i = 1:numel(recordNames)
    if strncmp(recordNames{i}, 'param_', 6)
      params.(recordNames{i}(7:end)) = rec.(recordNames{i});
    end
  end
  H = rec.H;
  W = rec.W;
  T = rec.T;
  frames = reshape(rec.frames, H, W, 3, T);
  state = [];
  for t = 1:T
    if t == 1
      [state, mask] = corvaneStep(state, frames(:, :, :, t), params);
    else
      [state, mask] = corvaneStep(state, frames(:, :, :, t));
    end
    where = sprintf('%s, frame %d', what, t);
    if ~islogical(mask) || ~isequal(size(mask), [H W])
      error('test:mask', '%s: the mask is %s of size %s', where, class(mask), mat2str(size(mask)));
    end
    expectBits(255 * double(mask), rec.(sprintf('mask%d', t)), [where ', mask']);
    for i = 1:numel(names)
      expectBits(state.model.(names{i}), rec.(sprintf('after%d_%s', t, names{i})), ...
                 [where ', field ' names{i}]);
    end
  end
  if state.frameNumber ~= T
    error('test:count', '%s: %d frames counted, %d given', what, state.frameNumber, T);
  end
end

% What corvaneStep refuses, leaving the state as it was.
[state, ~] = corvaneStep([], zeros(4, 5, 3));
before = state;
expectError(@() corvaneStep(state, zeros(5, 4, 3)), 'Corvane:badFrame', 'a frame of another size');
expectError(@() corvaneStep(state, zeros(4, 5)), 'Corvane:badFrame', 'a grey frame');
expectError(@() corvaneStep(state, 'frame'), 'Corvane:badFrame', 'a string for a frame');
expectError(@() corvaneStep(state, complex(zeros(4, 5, 3), 1)), 'Corvane:badFrame', 'a complex frame');
expectError(@() corvaneStep(state, zeros(4, 5, 3), 'priorFloor', 0.1), 'Corvane:badParameter', ...
            'parameters after the first frame');
expectError(@() corvaneStep(struct('model', 1), zeros(4, 5, 3)), 'Corvane:badState', 'a foreign struct');
expectError(@() corvaneStep([], zeros(4, 5, 3), 'noSuchParameter', 1), 'Corvane:badParameter', ...
            'an unknown parameter');
if ~isequal(state, before)
  error('test:state', 'a refused call changed the state');
end
fprintf('%d streams match the C++ setup bit for bit\n', numel(files));
end
