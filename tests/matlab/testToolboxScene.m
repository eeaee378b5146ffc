function testToolboxScene()
% A few hundred frames of a synthetic scene run through the toolbox functions
% find the moving square; the demo writes its foreground maps; a stack of
% frames given to corvaneInitModel is the first frame's model updated with
% the rest.
results = corvaneDemo('frames', 300, 'outputDir', '');
if ~(results.fmeasure > 0.9 && results.precision > 0.9 && results.recall > 0.9)
  error('test:scene', 'the square was not found: precision %.3f, recall %.3f', ...
        results.precision, results.recall);
end
if ~(results.centerError < 1.5)
  error('test:scene', 'the detected square is %.2f pixels from the true one', results.centerError);
end
if ~isequal(size(results.mask), [60 80]) || sum(results.truth(:)) ~= 144
  error('test:scene', 'unexpected mask or square size');
end

% A smaller map learns the scene too.
small = corvaneDemo('frames', 200, 'rows', 40, 'columns', 50, 'mapRows', 2, 'mapColumns', 2, ...
                    'outputDir', '');
if ~(small.fmeasure > 0.8)
  error('test:scene', 'a 2 x 2 map found the square with F-measure %.3f only', small.fmeasure);
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

% A stack of frames: built from the first, then updated with each other one.
rand('state', 9); %#ok<RAND>
stack = 255 * rand(5, 6, 3, 3);
fromStack = corvaneInitModel(stack, 'mapRows', 2, 'mapColumns', 1);
nhood = corvaneNeighborhood('mapRows', 2, 'mapColumns', 1);
byHand = corvaneInitModel(stack(:, :, :, 1), 'mapRows', 2, 'mapColumns', 1);
byHand = Corvane(byHand, stack(:, :, :, 2), nhood);
byHand = Corvane(byHand, stack(:, :, :, 3), nhood);
names = modelFieldNames();
for i = 1:numel(names)
  expectBits(fromStack.(names{i}), byHand.(names{i}), ['model from a stack, field ' names{i}]);
end
expectBits(fromStack.CurrentFrame, 2, 'CurrentFrame of a model from three frames');
fprintf('scene: precision %.3f, recall %.3f, centre error %.2f pixels\n', ...
        results.precision, results.recall, results.centerError);
end
