function params = corvaneParameters(varargin)
%CORVANEPARAMETERS  Parameters of an initial Corvane model and its neighbourhood matrix.
%
%   params = corvaneParameters()
%   params = corvaneParameters('Name', value, ...)
%   params = corvaneParameters(params, 'Name', value, ...)
%
%   Returns a struct holding every parameter that corvaneInitModel and
%   corvaneNeighborhood use, set to its default and then overridden by the
%   given struct (its fields) and name/value pairs, in that order. Names are
%   matched without regard to case; an unknown name is an error.
%
%   Colours are in 0..255 per channel; variances are per channel, in squared
%   colour units.
%
%   Name                      Default  Meaning
%   mapRows                   3        rows of each pixel's neuron map
%                                      (NumMapRows); positive integer
%   mapColumns                3        columns of each pixel's neuron map
%                                      (NumMapColumns); K = mapRows*mapColumns
%   initialVariance           100      starting variance of every neuron
%                                      (Sigma2), squared colour units
%   maximumVariance           400      cap on a neuron's variance
%                                      (MaximumVariance, every pixel), squared
%                                      colour units
%   minimumVariance           25       floor added to a neuron's variance
%                                      inside the density (MinimumVariance),
%                                      squared colour units
%   initialPrior              0.05     starting foreground prior of every pixel
%                                      (Pi), a probability
%   stepSize                  0.01     learning rate of Pi, Var and Cov per
%                                      frame (StepSize), in 0..1
%   initialIndicatorVariance  0.05     starting variance of the foreground
%                                      indicator (Var); the covariances with
%                                      existing neighbours (Cov) start equal to
%                                      it, so the first frames are smoothed as
%                                      a plain 3x3 average
%   learningRate              0.05     rate per frame at which the winning
%                                      neuron moves towards the pixel's colour
%   neighborhoodWidth         1        width, in map cells, of the Gaussian
%                                      that spreads the learning rate over the
%                                      winner's map neighbours; 0 means only
%                                      the winner learns
%
%   These are the defaults of the C++ setup (setup/ModelSetup.h,
%   ModelParameters); the test suite checks that both build the same model
%   and matrix, bit for bit.
%
%   See also corvaneInitModel, corvaneNeighborhood, Corvane.

% The defaults, in one place.
defaults = struct( ...
  'mapRows', 3, ...
  'mapColumns', 3, ...
  'initialVariance', 100.0, ...
  'maximumVariance', 400.0, ...
  'minimumVariance', 25.0, ...
  'initialPrior', 0.05, ...
  'stepSize', 0.01, ...
  'initialIndicatorVariance', 0.05, ...
  'learningRate', 0.05, ...
  'neighborhoodWidth', 1.0);

params = defaults;
names = fieldnames(defaults);
args = varargin;
if ~isempty(args) && isstruct(args{1})
  given = args{1};
  if numel(given) ~= 1
    error('Corvane:badParameter', 'a parameter struct must have exactly one element');
  end
  givenNames = fieldnames(given);
  for i = 1:numel(givenNames)
    params = setParameter(params, names, givenNames{i}, given.(givenNames{i}));
  end
  args = args(2:end);
end
if mod(numel(args), 2) ~= 0
  error('Corvane:badParameter', 'parameters come in name/value pairs; %d arguments were given', numel(args));
end
for i = 1:2:numel(args)
  if ~ischar(args{i})
    error('Corvane:badParameter', 'argument %d should be a parameter name', i);
  end
  params = setParameter(params, names, args{i}, args{i + 1});
end
end

function params = setParameter(params, names, name, value)
match = find(strcmpi(name, names));
if isempty(match)
  error('Corvane:badParameter', 'unknown parameter ''%s''; known: %s', name, sprintf('%s ', names{:}));
end
name = names{match};
if ~isnumeric(value) || ~isreal(value) || numel(value) ~= 1 || ~isfinite(value)
  error('Corvane:badParameter', 'parameter ''%s'' must be one finite real number', name);
end
value = double(value);
if strcmp(name, 'mapRows') || strcmp(name, 'mapColumns')
  if value < 1 || value ~= fix(value) || value > 46340
    error('Corvane:badParameter', 'parameter ''%s'' must be a whole number from 1 to 46340; it is %g', name, value);
  end
end
params.(name) = value;
end
