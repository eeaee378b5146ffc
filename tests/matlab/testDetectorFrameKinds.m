function testDetectorFrameKinds()
% CorvaneDetector takes frames from any camera: a grey H x W frame is the
% colour frame with three equal channels, a uint16 frame of x * 257 is the
% uint8 frame of x (other 16-bit values take the nearest level,
% round(x / 257)), single and double frames are their uint8 values; the
% masks, probabilities and models agree bit for bit. Leading frames may be an
% H x W x 1 x T grey stack. Four channels are refused, naming the way out.
rand('state', 21); %#ok<RAND>
H = 14; W = 18; T = 16;
grey = uint8(60 + 100 * rand(H, W, 1, T));
grey(4:9, 5:10, 1, 9:end) = 235;            % an object enters
colour = repmat(grey, [1 1 3 1]);
options = {'Threads', 1, 'initialFrames', 4};

reference = run(@(t) colour(:, :, :, t), T, options);
kinds = {
  'grey uint8', @(t) grey(:, :, 1, t);
  'grey uint16 x 257', @(t) uint16(grey(:, :, 1, t)) * 257;
  'grey single', @(t) single(grey(:, :, 1, t));
  'grey double', @(t) double(grey(:, :, 1, t));
  'colour uint16 x 257', @(t) uint16(colour(:, :, :, t)) * 257};
for i = 1:size(kinds, 1)
  expectSameRun(run(kinds{i, 2}, T, options), reference, kinds{i, 1});
end

% 16-bit values off the x * 257 grid: the nearest 8-bit level.
offsets = int32(floor(257 * rand(H, W, 3, T))) - 128;
wide = uint16(min(max(int32(colour) * 257 + offsets, 0), 65535));
levels = uint8(floor((double(wide) + 128) / 257));
expectSameRun(run(@(t) wide(:, :, :, t), T, options), ...
              run(@(t) levels(:, :, :, t), T, options), 'uint16 off the grid');
if ~isequal(uint8(floor((65535 + 128) / 257)), uint8(255))
  error('test:frames', '65535 must give 255');
end

% Leading frames: a grey stack learns as the colour stack does.
fromGrey = CorvaneDetector(grey(:, :, :, 1:8), options{:});
fromColour = CorvaneDetector(colour(:, :, :, 1:8), options{:});
fromWide = CorvaneDetector(uint16(grey(:, :, :, 1:8)) * 257, options{:});
for t = 9:T
  [m1, p1] = fromGrey.step(grey(:, :, 1, t));
  [m2, p2] = fromColour.step(colour(:, :, :, t));
  [m3, p3] = fromWide.step(uint16(colour(:, :, :, t)) * 257);
  if ~isequal(m1, m2) || ~isequal(m3, m2) || ~isequal(p1, p2) || ~isequal(p3, p2)
    error('test:frames', 'frame %d: leading grey or 16-bit frames learnt otherwise', t);
  end
end
if ~isequal(fromGrey.Model, fromColour.Model) || ~isequal(fromWide.Model, fromColour.Model)
  error('test:frames', 'the models after grey, 16-bit and colour leading frames differ');
end

% A grey frame in a detector started on colour frames, and back.
mixed = CorvaneDetector(options{:});
for t = 1:T
  if mod(t, 2)
    mask = mixed.step(grey(:, :, 1, t));
  else
    mask = mixed.step(colour(:, :, :, t));
  end
end
if ~isequal(mask, reference.masks{end})
  error('test:frames', 'grey and colour frames of one video gave another mask');
end

% What is not taken.
det = CorvaneDetector(colour(:, :, :, 1:4), options{:});
before = det.Model;
err = expectError(@() det.step(cat(3, colour(:, :, :, 5), grey(:, :, 1, 5))), ...
                  'Corvane:frameChannels', 'an H x W x 4 frame');
expectMention(err, '14 x 18 x 4');
expectMention(err, 'frame(:, :, 1:3)');
err = expectError(@() det.step(int16(grey(:, :, 1, 5))), 'Corvane:frameClass', 'an int16 grey frame');
expectMention(err, 'int16');
expectMention(err, 'uint16');
err = expectError(@() CorvaneDetector(squeeze(grey(:, :, 1, 1:5))), 'Corvane:frameChannels', ...
                  'an H x W x T stack');
expectMention(err, 'H x W x 1 x T');
if ~isequal(det.Model, before) || det.FramesProcessed ~= 4
  error('test:frames', 'a refused frame changed the detector');
end
fprintf('testDetectorFrameKinds: %d kinds agree with colour uint8 frames\n', size(kinds, 1) + 2);
end

function result = run(frameAt, T, options)
det = CorvaneDetector(options{:});
result.masks = cell(1, T);
result.probabilities = cell(1, T);
for t = 1:T
  [result.masks{t}, result.probabilities{t}] = det.step(frameAt(t));
end
result.model = det.Model;
end

function expectSameRun(got, expected, what)
if ~any(cellfun(@(m) any(m(:)), expected.masks))
  error('test:frames', '%s: the scene has no foreground to compare', what);
end
for t = 1:numel(expected.masks)
  if ~isequal(got.masks{t}, expected.masks{t}) || ...
     ~isequal(got.probabilities{t}, expected.probabilities{t})
    error('test:frames', '%s: frame %d differs from the colour uint8 frame', what, t);
  end
end
if ~isequal(got.model, expected.model)
  error('test:frames', '%s: the model differs from the colour uint8 frames''', what);
end
end
