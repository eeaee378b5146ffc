% gateway_battery: throws malformed calls at the Corvane MEX gateway in a live
% Octave process and checks that each one
%   - raises an error whose identifier starts with "Corvane:",
%   - leaves every argument exactly as it was (compared bit for bit against a
%     copy made before the call that shares no storage with the original),
% and that a set of valid but unusual calls succeed, update only the returned
% copy and leave the caller's arguments untouched. The process surviving to
% print the summary lines is itself part of the check.
%
% Run: octave-cli --no-gui --norc -q --path <dir of Corvane.mex> \
%        --path <dir of this file> --eval gateway_battery
function gateway_battery()
  H = 3; W = 4; mapRows = 2; mapColumns = 2;
  [model, frame, nhood] = valid_call(H, W, mapRows, mapColumns);
  fields = {'Mu', 'Sigma2', 'imMask', 'Pi', 'NeuroWin', 'Var', 'Cov', ...
            'MaximumVariance', 'NumMapRows', 'NumMapColumns', 'NumImageRows', ...
            'NumImageColumns', 'MinimumVariance', 'StepSize', 'CurrentFrame'};
  sizeFields = {'NumMapRows', 'NumMapColumns', 'NumImageRows', 'NumImageColumns'};

  bad = {};  % {description, arguments, output count}

  % Every field: missing, wrong class, complex, sparse, empty, one element short.
  for f = 1:numel(fields)
    name = fields{f};
    value = model.(name);
    bad{end+1} = {['missing ' name], {rmfield(model, name), frame, nhood}, 1};
    wrong = wrong_classes(value);
    for v = 1:rows(wrong)
      bad{end+1} = {sprintf('%s as %s', name, wrong{v, 1}), ...
                    {with_field(model, name, wrong{v, 2}), frame, nhood}, 1};
    end
    bad{end+1} = {[name ' one element short'], ...
                  {with_field(model, name, value(1:end-1)), frame, nhood}, 1};
  end

  % Size fields: values that are not a usable size.
  sizeValues = [0, -0, -1, -0.5, 0.5, 0.999999, NaN, Inf, -Inf, 2^31, 2^31 + 0.5, ...
                2^32, 2^53, 1e300, realmax, -2^31, -2^31 - 1, -realmax];
  for f = 1:numel(sizeFields)
    for v = sizeValues
      bad{end+1} = {sprintf('%s = %.17g', sizeFields{f}, v), ...
                    {with_field(model, sizeFields{f}, v), frame, nhood}, 1};
    end
    % A size that fits but makes every array too short.
    bad{end+1} = {[sizeFields{f} ' one larger'], ...
                  {with_field(model, sizeFields{f}, model.(sizeFields{f}) + 1), frame, nhood}, 1};
    bad{end+1} = {[sizeFields{f} ' = 2^31 - 1'], ...
                  {with_field(model, sizeFields{f}, 2^31 - 1), frame, nhood}, 1};
  end
  % Products that overflow 32 bits (each factor fits).
  products = {[65536, 65536], [65536, 32768], [46341, 46341], [2^31 - 1, 2], [46340, 46340]};
  for i = 1:numel(products)
    pair = products{i};
    m = with_field(with_field(model, 'NumImageRows', pair(1)), 'NumImageColumns', pair(2));
    bad{end+1} = {sprintf('image %d x %d', pair), {m, frame, nhood}, 1};
    m = with_field(with_field(model, 'NumMapRows', pair(1)), 'NumMapColumns', pair(2));
    bad{end+1} = {sprintf('map %d x %d', pair), {m, frame, nhood}, 1};
  end

  % The frame and the neighbourhood matrix.
  args = {'frame', frame; 'nhood', nhood};
  for a = 1:2
    value = args{a, 2};
    wrong = wrong_classes(value);
    for v = 1:rows(wrong)
      bad{end+1} = {sprintf('%s as %s', args{a, 1}, wrong{v, 1}), ...
                    replace_arg({model, frame, nhood}, a + 1, wrong{v, 2}), 1};
    end
    bad{end+1} = {[args{a, 1} ' one element short'], ...
                  replace_arg({model, frame, nhood}, a + 1, value(1:end-1)), 1};
    bad{end+1} = {[args{a, 1} ' a single element'], ...
                  replace_arg({model, frame, nhood}, a + 1, value(1)), 1};
  end
  bad{end+1} = {'frame with two channels', {model, frame(:, :, 1:2), nhood}, 1};
  bad{end+1} = {'frame of a smaller image', {model, frame(1:end-1, :, :), nhood}, 1};
  bad{end+1} = {'nhood for a smaller map', {model, frame, nhood(1:end-1, 1:end-1)}, 1};

  % Argument counts.
  bad{end+1} = {'no inputs', {}, 1};
  bad{end+1} = {'one input', {model}, 1};
  bad{end+1} = {'two inputs', {model, frame}, 1};
  bad{end+1} = {'four inputs', {model, frame, nhood, nhood}, 1};
  bad{end+1} = {'five inputs', {model, frame, nhood, nhood, 1}, 1};
  bad{end+1} = {'two outputs', {model, frame, nhood}, 2};
  bad{end+1} = {'three outputs', {model, frame, nhood}, 3};
  bad{end+1} = {'no inputs, no outputs', {}, 0};

  % The model argument itself.
  notStructs = {'double', 1; 'empty double', []; 'char', 'model'; 'cell', {model}; ...
                'logical', true; 'int32', int32(1); 'function handle', @sin; ...
                'cell of fields', struct2cell(model)};
  for i = 1:rows(notStructs)
    bad{end+1} = {['model as ' notStructs{i, 1}], {notStructs{i, 2}, frame, nhood}, 1};
  end
  bad{end+1} = {'model struct([])', {struct([]), frame, nhood}, 1};
  bad{end+1} = {'model 0x1 struct array with every field', {repmat(model, 0, 1), frame, nhood}, 1};
  bad{end+1} = {'model 1x1 struct without fields', {struct(), frame, nhood}, 1};
  bad{end+1} = {'model with field names in the wrong case', ...
                {rename_field(model, 'imMask', 'ImMask'), frame, nhood}, 1};
  several = repmat(model, 1, 3);
  several(1).Pi = 'broken';
  bad{end+1} = {'struct array whose element 1 is broken', {several, frame, nhood}, 1};

  tried = 0; raisedCorvane = 0; failures = {};
  for i = 1:numel(bad)
    [raised, id, message, untouched] = attempt(bad{i}{2}, bad{i}{3});
    tried = tried + 1;
    if raised && strncmp(id, 'Corvane:', 8)
      raisedCorvane = raisedCorvane + 1;
    else
      failures{end+1} = sprintf('%s: expected a Corvane: error, got %s', bad{i}{1}, ...
                                describe(raised, id, message));
    end
    if ~untouched
      failures{end+1} = sprintf('%s: an argument changed', bad{i}{1});
    end
  end

  % Valid calls in unusual forms: they must succeed and leave the input alone.
  good = {};
  good{end+1} = {'plain call', {model, frame, nhood}, 1};
  good{end+1} = {'no output requested', {model, frame, nhood}, 0};
  good{end+1} = {'extra field', {with_field(model, 'Notes', {'kept', 1:3}), frame, nhood}, 1};
  good{end+1} = {'struct array of 3 elements', {repmat(model, 1, 3), frame, nhood}, 1};
  several = repmat(model, 3, 1);
  several(2).Pi = 'element 2 is not used';
  good{end+1} = {'struct array whose element 2 is broken', {several, frame, nhood}, 1};
  good{end+1} = {'NeuroWin as a range', {with_field(model, 'NeuroWin', 0:H*W-1), frame, nhood}, 1};
  [~, order] = sort(rand(1, H * W));
  good{end+1} = {'NeuroWin as a lazy index', {with_field(model, 'NeuroWin', order), frame, nhood}, 1};
  good{end+1} = {'nhood as a diagonal matrix', {model, frame, 0.5 * eye(mapRows * mapColumns)}, 1};
  good{end+1} = {'frame longer than needed', {model, cat(3, frame, frame), nhood}, 1};
  good{end+1} = {'size fields as vectors', {with_field(model, 'NumImageRows', [H, 99]), frame, nhood}, 1};
  good{end+1} = {'fractional sizes', {with_field(model, 'NumImageRows', H + 0.75), frame, nhood}, 1};
  good{end+1} = {'NaN and Inf values', {with_field(with_field(model, 'Pi', NaN(H, W)), ...
                                                  'Mu', Inf(size(model.Mu))), frame, nhood}, 1};
  aliasModel = model;  % shares storage with model until one of them is written
  good{end+1} = {'model shared with another variable', {aliasModel, frame, nhood}, 1};
  validCalls = 0;
  for i = 1:numel(good)
    call = good{i};
    [raised, id, message, untouched, out] = attempt(call{2}, call{3});
    tried = tried + 1;
    if raised
      failures{end+1} = sprintf('%s: valid call raised %s', call{1}, describe(raised, id, message));
      continue;
    end
    if ~untouched
      failures{end+1} = sprintf('%s: the caller''s arguments changed', call{1});
    end
    input = call{2}{1};
    if ~isstruct(out) || ~isequal(size(out), size(input)) || ...
       out(1).CurrentFrame ~= input(1).CurrentFrame + 1
      failures{end+1} = sprintf('%s: the output is not the updated copy', call{1});
    elseif numel(input) > 1 && ~isequaln(fingerprint(out(2:end)), fingerprint(input(2:end)))
      failures{end+1} = sprintf('%s: elements other than the first changed', call{1});
    elseif isfield(input, 'Notes') && ~isequal(out.Notes, input.Notes)
      failures{end+1} = sprintf('%s: the extra field changed', call{1});
    else
      validCalls = validCalls + 1;
    end
  end
  if ~isequal(fingerprint(aliasModel), fingerprint(model))
    failures{end+1} = 'a variable sharing the model''s storage changed';
  end

  for i = 1:numel(failures)
    printf('FAIL %s\n', failures{i});
  end
  printf('%d valid calls in unusual forms succeeded and updated only the returned copy\n', ...
         validCalls);
  printf('%d calls tried, %d raised Corvane: errors\n', numel(bad), raisedCorvane);
  printf('%d calls in all, %d failures\n', tried, numel(failures));
  if ~isempty(failures)
    exit(1);
  end
end

% A small valid model: K = mapRows*mapColumns neurons on an H x W image.
function [model, frame, nhood] = valid_call(H, W, mapRows, mapColumns)
  K = mapRows * mapColumns; N = H * W;
  model = struct();
  model.Mu = 100 + reshape(mod(0:3*K*N-1, 17), 3, K * N);
  model.Sigma2 = 50 * ones(K, N);
  model.imMask = zeros(H, W);
  model.Pi = 0.05 * ones(H, W);
  model.NeuroWin = zeros(H, W);
  model.Var = 0.05 * ones(H, W);
  model.Cov = 0.01 * ones(4, N);
  model.MaximumVariance = 400 * ones(H, W);
  model.NumMapRows = mapRows;
  model.NumMapColumns = mapColumns;
  model.NumImageRows = H;
  model.NumImageColumns = W;
  model.MinimumVariance = 25;
  model.StepSize = 0.01;
  model.CurrentFrame = 7;
  frame = reshape(mod((0:3*N-1) * 37, 256), H, W, 3);
  nhood = 0.05 * ones(K, K);
end

% The value in every class the gateway must refuse, with a label.
function wrong = wrong_classes(value)
  wrong = {'single', single(value); 'int32', int32(value); 'uint8', uint8(value); ...
           'int64', int64(value); 'logical', value ~= 0; 'char', char(mod(value, 128)); ...
           'cell', num2cell(value); 'struct', struct('value', value); ...
           'function handle', @() value; 'complex', complex(value, ones(size(value))); ...
           'complex with zero imaginary part', complex(value, zeros(size(value))); ...
           'sparse', sparse(reshape(value, size(value, 1), [])); ...
           'sparse logical', sparse(reshape(value ~= 0, size(value, 1), [])); ...
           'empty []', []; 'empty 0x3', zeros(0, 3); 'empty single', single([])};
end

function s = with_field(s, name, value)
  s.(name) = value;
end

function s = rename_field(s, from, to)
  s.(to) = s.(from);
  s = rmfield(s, from);
end

function args = replace_arg(args, index, value)
  args{index} = value;
end

function text = describe(raised, id, message)
  if ~raised
    text = 'no error';
  else
    text = sprintf('error "%s" (%s)', id, message);
  end
end

% Calls Corvane with `args` and `nout` outputs. `untouched` is true when every
% argument still holds exactly the bits it held before the call.
function [raised, id, message, untouched, out] = attempt(args, nout)
  before = fingerprint(args);
  raised = false; id = ''; message = ''; out = [];
  try
    switch nout
      case 0
        Corvane(args{:});
        out = ans;
      case 1
        out = Corvane(args{:});
      case 2
        [out, ~] = Corvane(args{:});
      otherwise
        [out, ~, ~] = Corvane(args{:});
    end
  catch err
    raised = true; id = err.identifier; message = err.message;
  end
  untouched = isequal(before, fingerprint(args));
end

% A copy of x that shares no storage with it: class, size and the exact bits
% of every element, recursively through structs and cells. Built from fresh
% arrays (typecast, conversions), so a write into x's storage by the gateway
% cannot reach it through Octave's copy-on-write sharing.
function f = fingerprint(x)
  c = class(x); s = size(x);
  if isstruct(x)
    names = fieldnames(x);
    values = cell(numel(x), numel(names));
    for i = 1:numel(x)
      for k = 1:numel(names)
        values{i, k} = fingerprint(x(i).(names{k}));
      end
    end
    f = {c, s, names, values};
  elseif iscell(x)
    f = {c, s, cellfun(@fingerprint, x, 'UniformOutput', false)};
  elseif issparse(x)
    [i, j, v] = find(x);
    f = {c, s, 'sparse', i, j, fingerprint(full(v))};
  elseif isnumeric(x)
    f = {c, s, iscomplex(x), typecast(full(real(x(:)')), 'uint8'), ...
         typecast(full(imag(x(:)')), 'uint8')};
  elseif islogical(x)
    f = {c, s, uint8(x(:)')};
  elseif ischar(x)
    f = {c, s, double(x(:)')};
  elseif isa(x, 'function_handle')
    f = {c, s, func2str(x)};
  else
    f = {c, s, disp(x)};
  end
end
