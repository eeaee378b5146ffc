function testToolboxMatchesSetup(cases)
% corvaneParameters, corvaneInitModel and corvaneNeighborhood give exactly the
% defaults, models and matrices of the C++ setup (ModelParameters,
% BuildInitialModel, BuildNeighborhoodMatrix), bit for bit, for the defaults
% and for sets that change every parameter; and reject what they cannot use.
files = dir(fullfile(cases, 'setup_*.bin'));
if numel(files) < 5
  error('test:cases', 'expected at least 5 setup cases in %s, found %d', cases, numel(files));
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
  end

  H = rec.H;
  W = rec.W;
  frame = reshape(rec.frame, H, W, 3);
  if rec.isDefault
    model = corvaneInitModel(frame);
    nhood = corvaneNeighborhood();
  else
    model = corvaneInitModel(frame, params);
    nhood = corvaneNeighborhood(pairs{:});
  end
  modelNames = fieldnames(model);
  if ~isequal(sort(modelNames), sort(names(:)))
    error('test:fields', '%s: the model has fields %s', what, sprintf('%s ', modelNames{:}));
  end
  for i = 1:numel(names)
    expectBits(model.(names{i}), rec.(['model_' names{i}]), [what ', field ' names{i}]);
  end
  K = params.mapRows * params.mapColumns;
  N = H * W;
  expectShape(model.Mu, [3 K N], [what ', Mu']);
  expectShape(model.Sigma2, [K N], [what ', Sigma2']);
  expectShape(model.Cov, [4 N], [what ', Cov']);
  expectShape(model.Pi, [H W], [what ', Pi']);
  expectBits(nhood, rec.matrix, [what ', neighbourhood matrix']);
  expectShape(nhood, [K K], [what ', neighbourhood matrix']);

  % Name/value pairs, a struct, and a uint8 frame of whole colours agree.
  expectBits(corvaneNeighborhood(params), rec.matrix, [what ', matrix from a struct']);
  whole = round(frame);
  fromBytes = corvaneInitModel(uint8(whole), pairs{:});
  fromDoubles = corvaneInitModel(whole, params);
  expectBits(fromBytes.Mu, fromDoubles.Mu, [what ', Mu from a uint8 frame']);
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
fprintf('%d setup cases match the C++ setup bit for bit\n', numel(files));
end

function expectShape(value, shape, what)
if ~isequal(size(value), shape)
  error('test:shape', '%s has size %s, expected %s', what, mat2str(size(value)), mat2str(shape));
end
end
