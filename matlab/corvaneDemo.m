function results = corvaneDemo(varargin)
%CORVANEDEMO  Run Corvane over a synthetic scene and write the foreground masks.
%
%   corvaneDemo()
%   results = corvaneDemo('Name', value, ...)
%
%   Typed as corvaneDemo() it prints three lines (what ran, the scores and
%   where the images went); with an output it also returns the results.
%
%   Renders a square of a distinct colour moving over a fixed, textured,
%   noisy background; the square enters after the leading frames, as in a
%   video that starts on an empty scene. The whole loop is the corvane
%   command's: every frame goes through corvaneStep, which builds the model
%   from the frames so far during the first initialFrames frames, keeps the
%   prior in its band and tracks flicker between frames, calls Corvane with
%   the neighbourhood matrix of that frame (the calibration schedule) and
%   makes the mask with corvaneMask (threshold, then median filter). The masks are
%   compared with where the square really is. Every few frames it writes an
%   image: the frame, imMask in grey and the mask, side by side (PNG through
%   imwrite where available, otherwise binary PPM). Runs headless.
%
%   Options (name/value, case-insensitive):
%     frames     300   number of frames
%     rows       60    image rows
%     columns    80    image columns
%     square     12    side of the moving square, pixels
%     noise      4     standard deviation of the per-frame noise, colour units
%     every      50    write an image every this many frames (0: none)
%     outputDir  fullfile(tempdir, 'corvane_demo'); '' writes nothing
%   Any other name is passed to corvaneParameters (e.g. 'mapRows', 2,
%   'maskThreshold', 0.5, 'calibrationFrames', 50).
%
%   results has fields precision, recall and fmeasure (over all frames after
%   the first fifth, which the model spends learning), centerError (distance
%   in pixels between the centres of the detected and the true square in the
%   last frame, NaN if nothing was detected), mask (the last frame's mask,
%   logical), probability (its imMask), truth (its true square), and files
%   (the images written).
%
%   See also corvaneStep, Corvane, corvaneInitModel, corvaneNeighborhood, corvaneMask.

opts = struct('frames', 300, 'rows', 60, 'columns', 80, 'square', 12, ...
              'noise', 4, 'every', 50, ...
              'outputDir', fullfile(tempdir, 'corvane_demo'));
optNames = fieldnames(opts);
modelArgs = {};
if mod(numel(varargin), 2) ~= 0
  error('Corvane:badParameter', 'options come in name/value pairs');
end
for i = 1:2:numel(varargin)
  match = find(strcmpi(varargin{i}, optNames));
  if isempty(match)
    modelArgs = [modelArgs, varargin(i:i + 1)]; %#ok<AGROW>
  else
    opts.(optNames{match}) = varargin{i + 1};
  end
end
params = corvaneParameters(modelArgs{:});

H = opts.rows;
W = opts.columns;
[background, noiseBank] = makeScene(H, W);
enter = params.initialFrames;   % the square enters after the frames of the start

warmUp = floor(opts.frames / 5);
tp = 0; fp = 0; fn = 0;
files = {};
if ~isempty(opts.outputDir) && opts.every > 0 && ~exist(opts.outputDir, 'dir')
  mkdir(opts.outputDir);
end
state = [];
found = false(H, W);
truth = false(H, W);
for t = 1:opts.frames
  [frame, truth] = renderFrame(t - 1, enter, background, noiseBank, opts);
  if t == 1
    [state, found] = corvaneStep(state, frame, params);
  else
    [state, found] = corvaneStep(state, frame);
  end
  model = state.model;
  if t > warmUp
    tp = tp + sum(found(:) & truth(:));
    fp = fp + sum(found(:) & ~truth(:));
    fn = fn + sum(~found(:) & truth(:));
  end
  if ~isempty(opts.outputDir) && opts.every > 0 && mod(t, opts.every) == 0
    files{end + 1} = writeImage(opts.outputDir, t, frame, model.imMask, found); %#ok<AGROW>
  end
end

results.precision = tp / max(tp + fp, 1);
results.recall = tp / max(tp + fn, 1);
results.fmeasure = 2 * results.precision * results.recall / max(results.precision + results.recall, eps);
results.centerError = centreDistance(found, truth);
results.mask = found;
results.probability = model.imMask;
results.truth = truth;
results.files = files;
fprintf('Corvane on a synthetic %dx%d scene, %d frames (first %d for learning)\n', H, W, opts.frames, warmUp);
fprintf('  square found: precision %.3f  recall %.3f  F-measure %.3f\n', ...
        results.precision, results.recall, results.fmeasure);
if ~isempty(files)
  fprintf('  frames, probabilities and masks written to %s (%d images)\n', opts.outputDir, numel(files));
end
if nargout == 0
  % Called as a command: the summary above is all, not the results struct
  % with its mask matrices echoed as ans.
  clear results
end
end

function [background, noiseBank] = makeScene(H, W)
% A smooth, textured background with fixed per-pixel texture, and a bank of
% noise planes reused cyclically (deterministic on every host).
[r, c] = ndgrid(0:H - 1, 0:W - 1);
oldState = rand('state'); %#ok<RAND>
oldNormal = randn('state'); %#ok<RAND>
rand('state', 1); %#ok<RAND>
randn('state', 1); %#ok<RAND>
texture = floor(20 * rand(H, W, 3));
noiseBank = randn(H, W, 3, 17);
rand('state', oldState); %#ok<RAND>
randn('state', oldNormal); %#ok<RAND>
background = cat(3, 60 + 40 * sin(0.11 * r), 110 + 30 * cos(0.07 * c), 90 + 0.5 * (r + c)) + texture;
end

function [frame, truth] = renderFrame(t, enter, background, noiseBank, opts)
% Frame t (0-based): from frame `enter` on, the square bounces horizontally
% and drifts vertically.
[H, W, ~] = size(background);
s = opts.square;
spanX = max(W - s, 1);
spanY = max(H - s, 1);
phaseX = mod(2 * t, 2 * spanX);
left = phaseX;
if phaseX >= spanX
  left = 2 * spanX - phaseX;
end
phaseY = mod(t, 2 * spanY);
top = phaseY;
if phaseY >= spanY
  top = 2 * spanY - phaseY;
end
truth = false(H, W);
if t >= enter
  truth(top + 1:min(top + s, H), left + 1:min(left + s, W)) = true;
end
frame = background;
colour = [220 40 200];
for ch = 1:3
  plane = frame(:, :, ch);
  plane(truth) = colour(ch);
  frame(:, :, ch) = plane;
end
frame = frame + opts.noise * noiseBank(:, :, :, mod(t, size(noiseBank, 4)) + 1);
frame = min(max(frame, 0), 255);
end

function d = centreDistance(found, truth)
[fr, fc] = find(found);
[tr, tc] = find(truth);
if isempty(fr)
  d = NaN;
else
  d = sqrt((mean(fr) - mean(tr))^2 + (mean(fc) - mean(tc))^2);
end
end

function name = writeImage(folder, t, frame, probability, mask)
grey = uint8(255 * min(max(probability, 0), 1));
picture = [uint8(round(frame)), repmat(grey, [1 1 3]), repmat(uint8(255 * mask), [1 1 3])];
name = fullfile(folder, sprintf('frame%04d.png', t));
try
  imwrite(picture, name);
catch
  name = fullfile(folder, sprintf('frame%04d.ppm', t));
  fid = fopen(name, 'w');
  fprintf(fid, 'P6\n%d %d\n255\n', size(picture, 2), size(picture, 1));
  fwrite(fid, permute(picture, [3 2 1]), 'uint8');
  fclose(fid);
end
end
