function testToolboxMatchesSetup(cases)
% corvaneParameters, corvaneInitModel, corvaneNeighborhood and corvaneMask give
% exactly the defaults, models, matrices and masks of the C++ setup
% (ModelParameters, BuildInitialModelFromFrames, BuildInitialModel,
% NeighborhoodMatrixForFrame, LearningRateForFrame, ThresholdMask), bit for
% bit, for the defaults and for sets that change every parameter; and reject
% what they cannot use.
files = dir(fullfile(cases, 'setup_*.bin'));
if numel(files) < 6
  error('test:cases', 'expected at least 6 setup cases in %s, found %d', cases, numel(files));
end
names = modelFieldNames();
defaultsSeen = false;
for f = 1:numel(files)
  what = files(f).name;
  rec = readReferenceRecords(fullfile(cases, what));
  params = struct();
  pairs = {};
  recordNames = fieldnames(rec);
  for i = 1:numel(recordNames)
    if strncmp(recordNames{i}, 'param_', 6)
      name = recordNames{i}(7:end);
      params.(name) = rec.(recordNames{i});
      pairs = [pairs, {name, rec.(recordNames{i})}]; %#ok<AGROW>
    end
  end

  % The toolbox knows exactly the C++ parameters.
  known = corvaneParameters();
  knownNames = fieldnames(known);
  givenNames = fieldnames(params);
  if ~isequal(sort(knownNames), sort(givenNames))
    error('test:parameters', 'corvaneParameters has %s; the C++ setup has %s', ...
          sprintf('%s ', knownNames{:}), sprintf('%s ', givenNames{:}));
  end
  if rec.isDefault
    defaultsSeen = true;
    paramNames = fieldnames(params);
    for i = 1:numel(paramNames)
      expectBits(known.(paramNames{i}), params.(paramNames{i}), ['default of ' paramNames{i}]);
    end
    args = {};
  else
    args = {params};
  end

  % The model from the leading frames (the toolbox is given all T frames and
  % uses the first initialFrames), and from the first frame alone.
  H = rec.H;
  W = rec.W;
  T = rec.T;
  frames = reshape(rec.frames, H, W, 3, T);
  model = corvaneInitModel(frames, args{:});
  single = corvaneInitModel(frames(:, :, :, 1), args{:});
  modelNames = fieldnames(model);
  if ~isequal(sort(modelNames), sort(names(:)))
    error('test:fields', '%s: the model has fields %s', what, sprintf('%s ', modelNames{:}));
  end
  for i = 1:numel(names)
    expectBits(model.(names{i}), rec.(['model_' names{i}]), [what ', field ' names{i}]);
    expectBits(single.(names{i}), rec.(['single_' names{i}]), [what ', one frame, field ' names{i}]);
  end
  K = params.mapRows * params.mapColumns;
  N = H * W;
  expectShape(model.Mu, [3 K N], [what ', Mu']);
  expectShape(model.Sigma2, [K N], [what ', Sigma2']);
  expectShape(model.Cov, [4 N], [what ', Cov']);
  expectShape(model.Pi, [H W], [what ', Pi']);
  expectShape(model.MaximumVariance, [H W], [what ', MaximumVariance']);

  % The matrix after calibration, and for each frame number with its rate.
  nhood = corvaneNeighborhood(args{:});
  expectBits(nhood, rec.matrix, [what ', neighbourhood matrix']);
  expectShape(nhood, [K K], [what ', neighbourhood matrix']);
  for i = 1:numel(rec.matrixFrames)
    t = rec.matrixFrames(i);
    [frameMatrix, rate] = corvaneNeighborhood(args{:}, 'frame', t);
    where = sprintf('%s, frame %d', what, t);
    expectBits(frameMatrix, rec.matrices((i - 1) * K * K + (1:K * K)), [where ', matrix']);
    expectBits(rate, rec.rates(i), [where ', learning rate']);
  end

  % The mask.
  mask = corvaneMask(reshape(rec.imMask, H, W), args{:});
  if ~islogical(mask) || ~isequal(size(mask), [H W])
    error('test:mask', '%s: the mask is %s of size %s', what, class(mask), mat2str(size(mask)));
  end
  expectBits(255 * double(mask), rec.mask, [what ', mask']);

  % Name/value pairs, a struct, and uint8 frames of whole colours agree.
  expectBits(corvaneNeighborhood(pairs{:}), rec.matrix, [what ', matrix from name/value pairs']);
  whole = round(frames);
  fromBytes = corvaneInitModel(uint8(whole), pairs{:});
  fromDoubles = corvaneInitModel(whole, params);
  expectBits(fromBytes.Mu, fromDoubles.Mu, [what ', Mu from uint8 frames']);
  expectBits(fromBytes.Sigma2, fromDoubles.Sigma2, [what ', Sigma2 from uint8 frames']);
end
if ~defaultsSeen
  error('test:cases', 'no case with the default parameters');
end

% Names are matched without case; later pairs override a struct.
p = corvaneParameters(struct('mapRows', 2), 'MAPCOLUMNS', 5, 'maprows', 4);
if p.mapRows ~= 4 || p.mapColumns ~= 5
  error('test:parameters', 'overrides were not applied in order');
end

% What the builders reject.
expectError(@() corvaneParameters('noSuchParameter', 1), 'Corvane:badParameter', 'an unknown name');
expectError(@() corvaneParameters('mapRows'), 'Corvane:badParameter', 'a name without value');
expectError(@() corvaneParameters('mapRows', 2.5), 'Corvane:badParameter', 'a fractional map size');
expectError(@() corvaneParameters('mapColumns', 0), 'Corvane:badParameter', 'an empty map');
expectError(@() corvaneParameters('stepSize', NaN), 'Corvane:badParameter', 'a NaN');
expectError(@() corvaneParameters('stepSize', [1 2]), 'Corvane:badParameter', 'two values');
expectError(@() corvaneParameters(3, 4), 'Corvane:badParameter', 'a number for a name');
expectError(@() corvaneInitModel(zeros(4, 5)), 'Corvane:badFrame', 'a grey frame');
expectError(@() corvaneInitModel(zeros(4, 5, 4)), 'Corvane:badFrame', 'four channels');
expectError(@() corvaneInitModel(zeros(0, 5, 3)), 'Corvane:badFrame', 'an empty frame');
expectError(@() corvaneInitModel(complex(zeros(2, 2, 3), 1)), 'Corvane:badFrame', 'a complex frame');
leadingNaN = zeros(2, 2, 3, 3);
leadingNaN(2, 1, 3, 2) = NaN;
expectError(@() corvaneInitModel(leadingNaN), 'Corvane:badFrame', 'a NaN in a leading frame');
laterNaN = zeros(2, 2, 3, 3);
laterNaN(1, 1, 1, 3) = NaN;
fromTwo = corvaneInitModel(laterNaN, 'initialFrames', 2);
defaults = corvaneParameters();
if ~all(isfinite(fromTwo.Mu(:))) || ~all(fromTwo.MaximumVariance(:) == defaults.maximumVariance)
  error('test:frames', 'a frame after the leading ones was used');
end
expectError(@() corvaneParameters('initialFrames', 0), 'Corvane:badParameter', 'no leading frame');
expectError(@() corvaneParameters('calibrationFrames', -1), 'Corvane:badParameter', 'negative calibration');
expectError(@() corvaneParameters('medianSize', 4), 'Corvane:badParameter', 'an even median size');
expectError(@() corvaneNeighborhood('frame', 0), 'Corvane:badParameter', 'frame number 0');
expectError(@() corvaneNeighborhood('frame', 2.5), 'Corvane:badParameter', 'a fractional frame number');
expectError(@() corvaneNeighborhood('frame'), 'Corvane:badParameter', 'a frame without number');
expectError(@() corvaneMask(zeros(2, 2, 3)), 'Corvane:badMask', 'a three-dimensional map');
expectError(@() corvaneMask('map'), 'Corvane:badMask', 'a string for a map');
% The matrix's exp comes from the MEX file, correctly rounded: the nearest
% double to exp(-1 / (2 * 1.73^2)) (the C library's is one unit above), the
% array's shape kept, and the special values.
x = reshape([-1 / (2 * 1.73 * 1.73), 0, -Inf, Inf, NaN, -800], 2, 3);
y = CorvaneDetectorMex('exp', x);
expectShape(y, [2 3], 'exp of a 2 x 3 array');
if ~strcmp(num2hex(y(1)), '3feb13a31a11861b') || y(2) ~= 1 || y(3) ~= 0 || y(4) ~= Inf || ...
   ~isnan(y(5)) || y(6) ~= 0
  error('test:exp', 'CorvaneDetectorMex(''exp'') gives %s', mat2str(y, 17));
end
expectShape(CorvaneDetectorMex('exp', zeros(0, 3)), [0 3], 'exp of an empty array');
expectError(@() CorvaneDetectorMex('exp', single(1)), 'Corvane:badArgument', 'exp of a single');
expectError(@() CorvaneDetectorMex('exp', 1i), 'Corvane:badArgument', 'exp of a complex number');
expectError(@() CorvaneDetectorMex('exp', sparse(1)), 'Corvane:badArgument', 'exp of a sparse matrix');
fprintf('%d setup cases match the C++ setup bit for bit\n', numel(files));
end

function expectShape(value, shape, what)
if ~isequal(size(value), shape)
  error('test:shape', '%s has size %s, expected %s', what, mat2str(size(value)), mat2str(shape));
end
end
