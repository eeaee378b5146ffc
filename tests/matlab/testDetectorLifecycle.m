function testDetectorLifecycle()
% A CorvaneDetector's life: made from leading frames, stepped, reset, its
% model exported to the struct call and imported into a new detector, many
% alive at once, deleted, cleared, and used after the MEX file was unloaded.
% Every step is checked bit for bit against the struct call Corvane on the
% same model, and the memory of every detector is freed when it goes.
rand('state', 21); %#ok<RAND>
H = 18; W = 26; T = 14;
video = synthetic(H, W, T);

% Started from the leading frames; each step is one Corvane call on the
% detector's model with the frame's neighbourhood matrix, then corvaneMask.
before = CorvaneDetectorMex('count');
det = CorvaneDetector(video(:, :, :, 1:9));
expectEqual(det.ImageSize, [H W], 'ImageSize');
expectEqual(det.FramesProcessed, 0, 'FramesProcessed at the start');
start = det.Model;
expectEqual(start.CurrentFrame, 0, 'CurrentFrame of the starting model');
params = det.Parameters;
masks = false(H, W, T);
for t = 1:T
  model = det.Model;
  nhood = corvaneNeighborhood(params, 'frame', model.CurrentFrame + 1);
  expected = Corvane(model, double(video(:, :, :, t)), nhood);
  if mod(t, 2) == 0
    [mask, probability] = det.step(video(:, :, :, t));
    expectBits(probability, expected.imMask, sprintf('probability of frame %d', t));
  else
    mask = step(det, video(:, :, :, t));
  end
  expectEqual(mask, corvaneMask(expected.imMask, params), sprintf('mask of frame %d', t));
  after = det.Model;
  names = modelFieldNames();
  for i = 1:numel(names)
    expectBits(after.(names{i}), expected.(names{i}), sprintf('frame %d, field %s', t, names{i}));
  end
  masks(:, :, t) = mask;
end
expectEqual(det.FramesProcessed, T, 'FramesProcessed');

% reset: back to the starting model, and the same masks again.
reset(det);
expectEqual(det.FramesProcessed, 0, 'FramesProcessed after reset');
expectSnapshot(det.Model, snapshotBits(start), 'the model after reset');
for t = 1:4
  expectEqual(det.step(video(:, :, :, t)), masks(:, :, t), sprintf('mask of frame %d after reset', t));
end

% Export and import: a detector started from the exported model goes on
% exactly as the original does, and keeps its own parameters.
twin = CorvaneDetector(det.Model, params);
for t = 5:T
  expectEqual(twin.step(video(:, :, :, t)), det.step(video(:, :, :, t)), ...
              sprintf('imported detector, frame %d', t));
end
expectSnapshot(twin.Model, snapshotBits(det.Model), 'the imported detector''s model');
% The map shape comes from the model when not given.
small = CorvaneDetector(video(:, :, :, 1:3), 'mapRows', 2, 'mapColumns', 1);
fromModel = CorvaneDetector(small.Model);
expectEqual([fromModel.Parameters.mapRows, fromModel.Parameters.mapColumns], [2 1], 'map shape from the model');
expectError(@() CorvaneDetector(small.Model, 'mapRows', 3), 'Corvane:badModel', 'a map shape the model does not have');

% Frames of class single and double give the uint8 frame's results.
asSingle = CorvaneDetector(single(video(:, :, :, 1:9)));
asDouble = CorvaneDetector(double(video(:, :, :, 1:9)));
for t = 1:3
  expectEqual(asSingle.step(single(video(:, :, :, t))), masks(:, :, t), 'a single frame');
  expectEqual(asDouble.step(double(video(:, :, :, t))), masks(:, :, t), 'a double frame');
end

% Many detectors at once, stepped in turns, each as if alone.
params2 = {'learningRate', 0.05, 'medianSize', 3, 'mapRows', 2};
several = {CorvaneDetector(video(:, :, :, 1:9)), CorvaneDetector(video(:, :, :, 1:5), params2{:}), ...
           CorvaneDetector(video(:, :, :, 1:9))};
alone = CorvaneDetector(video(:, :, :, 1:5), params2{:});
for t = 1:6
  for k = 1:numel(several)
    got = several{k}.step(video(:, :, :, t));
    if k == 2
      expectEqual(got, alone.step(video(:, :, :, t)), sprintf('detector 2 of 3, frame %d', t));
    else
      expectEqual(got, masks(:, :, t), sprintf('detector %d of 3, frame %d', k, t));
    end
  end
end
alive = CorvaneDetectorMex('count');
expectEqual(alive - before, 10, 'detectors alive');

% Handles are shared; the last one cleared frees the detector.
copy = several{1};
several{1} = [];
copy.step(video(:, :, :, 7));
clear copy
expectEqual(CorvaneDetectorMex('count'), alive - 1, 'detectors after the last handle was cleared');
clear several alone asSingle asDouble small fromModel twin
expectEqual(CorvaneDetectorMex('count'), before + 1, 'detectors after clearing all but one');

% delete: the object stays, every use of it is a Corvane: error.
gone = CorvaneDetector(video(:, :, :, 1));
delete(gone);
expectError(@() gone.step(video(:, :, :, 1)), 'Corvane:deletedHandle', 'step after delete');
expectError(@() gone.Model, 'Corvane:deletedHandle', 'Model after delete');
expectError(@() reset(gone), 'Corvane:deletedHandle', 'reset after delete');
delete(gone);  % a second delete does nothing
clear gone
expectEqual(CorvaneDetectorMex('count'), before + 1, 'detectors after delete');

% clear mex (in Octave a no-op) and clear functions (which unloads the MEX
% file) while detectors are alive: no crash; an old detector then says its
% model is gone, and new ones work.
clear mex
expectEqual(det.step(video(:, :, :, 5)), masks(:, :, 5), 'a step after clear mex');
keep = det;
clear functions
expectEqual(CorvaneDetectorMex('count'), 0, 'detectors after the MEX file was unloaded');
expectError(@() keep.step(video(:, :, :, 1)), 'Corvane:staleHandle', 'step after clear functions');
expectError(@() keep.Model, 'Corvane:staleHandle', 'Model after clear functions');
fresh = CorvaneDetector(video(:, :, :, 1:9));
expectEqual(fresh.step(video(:, :, :, 1)), masks(:, :, 1), 'a new detector after clear functions');
expectError(@() keep.step(video(:, :, :, 1)), 'Corvane:staleHandle', ...
            'an old detector next to a new one with the same serial');
clear keep det fresh
expectEqual(CorvaneDetectorMex('count'), 0, 'detectors at the end');
fprintf('detector life cycle holds\n');
end

function video = synthetic(H, W, T)
% A textured background with noise and a bright square moving across it.
[x, y] = meshgrid(1:W, 1:H);
background = cat(3, 80 + 40 * sin(x / 3), 120 + 30 * cos(y / 4), 60 + 20 * sin((x + y) / 5));
video = zeros(H, W, 3, T, 'uint8');
for t = 1:T
  frame = background + 4 * randn(H, W, 3);
  if t > 9
    r = 2 + mod(2 * t, H - 6);
    c = 2 + mod(3 * t, W - 6);
    frame(r:r + 4, c:c + 4, :) = 230;
  end
  video(:, :, :, t) = uint8(frame);
end
end

function expectEqual(actual, expected, what)
if ~isequal(class(actual), class(expected)) || ~isequal(actual, expected)
  error('test:equal', '%s differs (%s %s, expected %s %s)', what, class(actual), ...
        mat2str(size(actual)), class(expected), mat2str(size(expected)));
end
end
