function testGatewayMatchesCore(cases)
% Corvane gives the C++ core's result on the same inputs, bit for bit, frame
% after frame: random models of several shapes (one with NaN, infinite and
% zero values) and the default model of a synthetic scene. After every call
% the caller's model, a copy-on-write twin of it, a variable sharing one of
% its fields and the frame still hold their exact bits.
files = dir(fullfile(cases, 'update_*.bin'));
if numel(files) < 6
  error('test:cases', 'expected at least 6 update cases in %s, found %d', cases, numel(files));
end
names = modelFieldNames();
for f = 1:numel(files)
  rec = readReferenceRecords(fullfile(cases, files(f).name));
  model = modelFromRecords(rec, '');
  H = model.NumImageRows;
  W = model.NumImageColumns;
  K = model.NumMapRows * model.NumMapColumns;
  nhood = reshape(rec.matrix, K, K);
  frames = reshape(rec.frames, H, W, 3, rec.T);
  for t = 1:rec.T
    what = sprintf('%s, frame %d', files(f).name, t);
    twin = model;
    sharedPi = model.Pi;
    snap = snapshotBits(model);
    frame = frames(:, :, :, t);
    frameBits = typecast(frame(:), 'uint64');
    if t == 1
      Corvane(model, frame, nhood);  % no output argument: the update goes to ans
      updated = ans; %#ok<NOANS>
    else
      updated = Corvane(model, frame, nhood);
    end
    for i = 1:numel(names)
      expectBits(updated.(names{i}), rec.(sprintf('after%d_%s', t, names{i})), ...
                 [what ', field ' names{i}]);
      if ~isequal(size(updated.(names{i})), size(model.(names{i})))
        error('test:shape', '%s: field %s changed shape', what, names{i});
      end
    end
    expectSnapshot(model, snap, [what ', the caller''s model']);
    expectSnapshot(twin, snap, [what ', a copy of the caller''s model']);
    expectBits(sharedPi, typecast(snap.Pi, 'double'), [what ', a variable sharing Pi']);
    if ~isequal(typecast(frame(:), 'uint64'), frameBits)
      error('test:changed', '%s: the frame was changed', what);
    end
    model = updated;
  end
end
fprintf('%d cases match the core bit for bit\n', numel(files));
end
