function testToolboxScene()
% A few hundred frames of a synthetic scene run through the toolbox functions
% (start from the leading frames, per-frame matrix, mask) find the moving
% square; the demo writes its images; calibration and the mask parameters
% act; the leading frames of a stack start the model and later ones do not.
results = corvaneDemo('frames', 300, 'outputDir', '');
% The ring that the model's 3x3 smoothing spreads around the square is
% explained by the neighbours' backgrounds and goes; the 5x5 median filter
% trims the square's corners.
if ~(results.recall > 0.9 && results.precision > 0.95 && results.fmeasure > 0.93)
  error('test:scene', 'the square was not found: precision %.3f, recall %.3f', ...
        results.precision, results.recall);
end
if ~(results.centerError < 1.5)
  error('test:scene', 'the detected square is %.2f pixels from the true one', results.centerError);
end
if ~isequal(size(results.mask), [60 80]) || ~islogical(results.mask) || sum(results.truth(:)) ~= 144
  error('test:scene', 'unexpected mask or square size');
end
% At threshold 0.5 the ring goes: precise, and the corners still trimmed.
strict = corvaneDemo('frames', 300, 'maskThreshold', 0.5, 'outputDir', '');
if ~(strict.precision > 0.95 && strict.recall > 0.9)
  error('test:scene', 'at threshold 0.5: precision %.3f, recall %.3f', strict.precision, strict.recall);
end
% Calibration only speeds up the first frames; the square is still found.
calibrated = corvaneDemo('frames', 200, 'calibrationFrames', 50, 'outputDir', '');
if ~(calibrated.fmeasure > 0.85)
  error('test:scene', 'with calibration the square was found with F-measure %.3f only', calibrated.fmeasure);
end

% A smaller map learns the scene too.
small = corvaneDemo('frames', 200, 'rows', 40, 'columns', 50, 'mapRows', 2, 'mapColumns', 2, ...
                    'outputDir', '');
if ~(small.fmeasure > 0.8)
  error('test:scene', 'a 2 x 2 map found the square with F-measure %.3f only', small.fmeasure);
end

% Typed without an output, as the guides show it, the demo prints its
% summary and nothing else (not the results with their matrices).
printed = evalc('corvaneDemo(''frames'', 20, ''rows'', 30, ''columns'', 40, ''outputDir'', '''')');
lines = strsplit(strtrim(printed), sprintf('\n'));
if numel(lines) > 3 || isempty(strfind(printed, 'F-measure'))
  error('test:scene', 'corvaneDemo() printed %d lines:\n%s', numel(lines), printed);
end

% The demo writes one image every `every` frames.
folder = tempname();
written = corvaneDemo('frames', 20, 'every', 10, 'rows', 30, 'columns', 40, 'outputDir', folder);
for i = 1:numel(written.files)
  if ~exist(written.files{i}, 'file')
    error('test:scene', 'the demo did not write %s', written.files{i});
  end
  delete(written.files{i});
end
rmdir(folder);
if numel(written.files) ~= 2
  error('test:scene', 'the demo wrote %d images, expected 2', numel(written.files));
end

% A stack of frames: the model starts from the first initialFrames of them,
% is not updated with any, and ignores the later ones.
rand('state', 9); %#ok<RAND>
stack = 255 * rand(5, 6, 3, 7);
fromStack = corvaneInitModel(stack, 'mapRows', 2, 'mapColumns', 1, 'initialFrames', 4);
leading = corvaneInitModel(stack(:, :, :, 1:4), 'mapRows', 2, 'mapColumns', 1, 'initialFrames', 40);
names = modelFieldNames();
for i = 1:numel(names)
  expectBits(fromStack.(names{i}), leading.(names{i}), ['model from a stack, field ' names{i}]);
end
expectBits(fromStack.CurrentFrame, 0, 'CurrentFrame of a model from seven frames');

% A large image, whose statistics are taken in slices of elements, gives every
% pixel the values it gets in a small image of its own.
rand('state', 11); %#ok<RAND>
large = round(255 * rand(200, 500, 3, 4));
whole = corvaneInitModel(large, 'mapRows', 1, 'mapColumns', 2);
columns = 300:320;   % around the first slice boundary, in the third channel
part = corvaneInitModel(large(:, columns, :, :), 'mapRows', 1, 'mapColumns', 2);
pixels = (columns(1) - 1) * 200 + 1:columns(end) * 200;
expectBits(whole.Mu(:, :, pixels), part.Mu, 'Mu of a large image');
expectBits(whole.Sigma2(:, pixels), part.Sigma2, 'Sigma2 of a large image');
expectBits(whole.MaximumVariance(:, columns), part.MaximumVariance, 'MaximumVariance of a large image');
fprintf('scene: precision %.3f, recall %.3f, centre error %.2f pixels\n', ...
        results.precision, results.recall, results.centerError);
end
