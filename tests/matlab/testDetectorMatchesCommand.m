function testDetectorMatchesCommand(corvane, folder)
% The corvane command and CorvaneDetector give the same masks, bit for bit,
% on the same frames with the same parameters: a synthetic clip is written
% as PNG images to FOLDER, segmented by the command CORVANE with --threads
% 1, 2, 3 and 8, by detectors with Threads 1, 2, 3 and 8, and by the struct
% call Corvane on the detector's model with CORVANE_THREADS set to the same
% counts; every thread count gives the same masks, probabilities and models.
rand('state', 4); %#ok<RAND>
H = 30; W = 41; T = 16;
[x, y] = meshgrid(1:W, 1:H);
background = cat(3, 90 + 50 * sin(x / 4), 110 + 40 * cos(y / 3), 70 + 30 * sin((x - y) / 6));
if exist(folder, 'dir')
  rmdir(folder, 's');
end
mkdir(fullfile(folder, 'input'));
video = zeros(H, W, 3, T, 'uint8');
for t = 1:T
  frame = background + 5 * randn(H, W, 3);
  if t > 6
    frame(5:12, 2 + 2 * t:8 + 2 * t, :) = 220;
  end
  video(:, :, :, t) = uint8(frame);
  imwrite(video(:, :, :, t), fullfile(folder, 'input', sprintf('in%06d.png', t)));
end
options = {'learningRate', 0.05, 'initialFrames', 5};
commandOptions = '--learning-rate 0.05 --init-frames 5';
reference = [];
names = modelFieldNames();
for threads = [1 2 3 8]
  out = fullfile(folder, sprintf('out%d', threads));
  command = sprintf('"%s" segment "%s" "%s" %s --threads %d', corvane, ...
                    fullfile(folder, 'input', 'in%06d.png'), out, commandOptions, threads);
  [status, text] = system(command);
  if status ~= 0
    error('test:command', '%s failed (%d):\n%s', command, status, text);
  end
  det = CorvaneDetector(options{:}, 'Threads', threads);
  expectEqualValue(det.Threads, threads, 'the Threads property');
  state = [];
  for t = 1:T
    [mask, probability] = det.step(video(:, :, :, t));
    % The command writes 0 and 255, which Octave may read back as logical.
    written = imread(fullfile(out, sprintf('%06d.png', t)));
    if ~islogical(written)
      written = written == 255;
    end
    if ~isequal(mask, written)
      error('test:command', '%d threads, frame %d: the command''s mask differs in %d pixels', ...
            threads, t, nnz(mask ~= written));
    end
    % The toolbox's loop around the struct call, with the same thread count.
    setenv('CORVANE_THREADS', sprintf('%d', threads));
    if t == 1
      [state, expected] = corvaneStep([], double(video(:, :, :, t)), options{:});
    else
      [state, expected] = corvaneStep(state, double(video(:, :, :, t)));
    end
    setenv('CORVANE_THREADS', '');
    expectEqualValue(mask, expected, sprintf('%d threads, frame %d, corvaneStep''s mask', threads, t));
    expectBits(probability, state.model.imMask, sprintf('%d threads, frame %d, probability', threads, t));
    if isempty(reference)
      reference.masks = false(H, W, T);
      reference.probability = zeros(H, W, T);
    end
    if threads == 1
      reference.masks(:, :, t) = mask;
      reference.probability(:, :, t) = probability;
    else
      expectEqualValue(mask, reference.masks(:, :, t), sprintf('%d threads, frame %d, mask', threads, t));
      expectBits(probability, reference.probability(:, :, t), ...
                 sprintf('%d threads, frame %d, probability against 1 thread', threads, t));
    end
  end
  final = det.Model;
  for i = 1:numel(names)
    expectBits(final.(names{i}), state.model.(names{i}), ...
               sprintf('%d threads, field %s against corvaneStep', threads, names{i}));
  end
  if threads == 1
    reference.model = snapshotBits(final);
  else
    expectSnapshot(final, reference.model, sprintf('%d threads, the final model', threads));
  end
end
fprintf('the command, the detector and the struct call agree for 1, 2, 3 and 8 threads\n');
end

function expectEqualValue(actual, expected, what)
if ~isequal(actual, expected)
  error('test:equal', '%s differs', what);
end
end
