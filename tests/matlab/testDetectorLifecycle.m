function testDetectorLifecycle()
% A CorvaneDetector's life: made without frames, from frames or from a
% model, stepped, reset, its model exported to the struct call and imported
% into a new detector, many alive at once, deleted, cleared, and used after
% its MEX file was unloaded. Every step is checked bit for bit against the
% toolbox's corvaneStep (the struct call Corvane with what the command does
% around it), and every detector's memory is freed when it goes.
rand('state', 21); %#ok<RAND>
H = 18; W = 26; T = 16;
video = synthetic(H, W, T);
names = modelFieldNames();

% Made without frames: the size comes with the first step; each step gives
% corvaneStep's mask, probability and model.
before = CorvaneDetectorMex('count');
det = CorvaneDetector();
expectEqual(det.ImageSize, [0 0], 'ImageSize before the first frame');
expectEqual(det.Model, [], 'Model before the first frame');
params = det.Parameters;
expectEqual(params, corvaneParameters(), 'Parameters');
state = [];
masks = false(H, W, T);
for t = 1:T
  [state, expected] = corvaneStep(state, double(video(:, :, :, t)));
  if mod(t, 2) == 0
    [mask, probability] = det.step(video(:, :, :, t));
    expectBits(probability, state.model.imMask, sprintf('probability of frame %d', t));
  else
    mask = step(det, video(:, :, :, t));
  end
  expectEqual(mask, expected, sprintf('mask of frame %d', t));
  model = det.Model;
  for i = 1:numel(names)
    expectBits(model.(names{i}), state.model.(names{i}), sprintf('frame %d, field %s', t, names{i}));
  end
  masks(:, :, t) = mask;
end
expectEqual(det.ImageSize, [H W], 'ImageSize');
expectEqual(det.FramesProcessed, T, 'FramesProcessed');
% The export is the field table of the C++ core, in its order: the same
% fields as the toolbox's model and this folder's list.
expectEqual(fieldnames(model), names(:), 'the exported fields and their order');
expectEqual(all(isfield(state.model, names)), true, 'the exported fields in the toolbox''s model');

% reset: every frame forgotten; the same masks again from frame 1.
reset(det);
expectEqual(det.FramesProcessed, 0, 'FramesProcessed after reset');
expectEqual(det.Model, [], 'Model after reset');
for t = 1:4
  expectEqual(det.step(video(:, :, :, t)), masks(:, :, t), sprintf('mask of frame %d after reset', t));
end

% Made from the first frames: it has learnt from them, and goes on as the
% detector that stepped them; frames of class single and double give the
% uint8 frames' results.
for kind = {'uint8', 'single', 'double'}
  learnt = CorvaneDetector(cast(video(:, :, :, 1:5), kind{1}));
  expectEqual(learnt.FramesProcessed, 5, ['frames learnt from, ' kind{1}]);
  for t = 6:9
    expectEqual(learnt.step(cast(video(:, :, :, t), kind{1})), masks(:, :, t), ...
                sprintf('frame %d after learning from %s frames', t, kind{1}));
  end
end

% Export and import. Without flicker tracking, absorbing and blink feedback
% (their history is not in the model) and past the start, a detector made
% from the exported model goes on exactly as the original does.
plain = CorvaneDetector('flickerStep', 0, 'absorbFrames', 0, 'blinkRate', 0, 'initialFrames', 3);
for t = 1:8
  plain.step(video(:, :, :, t));
end
exported = plain.Model;
expectEqual(exported.CurrentFrame, 8, 'CurrentFrame of the exported model');
twin = CorvaneDetector(exported, plain.Parameters);
for t = 9:T
  expectEqual(twin.step(video(:, :, :, t)), plain.step(video(:, :, :, t)), ...
              sprintf('imported detector, frame %d', t));
end
expectSnapshot(twin.Model, snapshotBits(plain.Model), 'the imported detector''s model');
% The map shape comes from the model when not given.
small = CorvaneDetector(video(:, :, :, 1:3), 'mapRows', 2, 'mapColumns', 1);
fromModel = CorvaneDetector(small.Model);
expectEqual([fromModel.Parameters.mapRows, fromModel.Parameters.mapColumns], [2 1], 'map shape from the model');
expectError(@() CorvaneDetector(small.Model, 'mapRows', 3), 'Corvane:badModel', 'a map shape the model does not have');
% A detector made from a model resets to that model.
fromModel.step(video(:, :, :, 4));
reset(fromModel);
expectSnapshot(fromModel.Model, snapshotBits(small.Model), 'a model-made detector after reset');

% Many detectors at once, stepped in turns, each as if alone.
options = {'learningRate', 0.05, 'medianSize', 3, 'mapRows', 2};
several = {CorvaneDetector(), CorvaneDetector(options{:}), CorvaneDetector(corvaneParameters())};
alone = CorvaneDetector(options{:});
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
% det, 3 made from frames (the last one still held), plain, twin, small,
% fromModel, the three and alone.
expectEqual(alive - before, 10, 'detectors alive');

% Handles are shared; the last one cleared frees the detector.
copy = several{1};
several{1} = [];
copy.step(video(:, :, :, 7));
clear copy
expectEqual(CorvaneDetectorMex('count'), alive - 1, 'detectors after the last handle was cleared');
clear several alone learnt small fromModel twin plain
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
fresh = CorvaneDetector();
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
