function params = corvaneParameters(varargin)
%CORVANEPARAMETERS  Parameters of a Corvane model's start, its neighbourhood matrix and its mask.
%
%   params = corvaneParameters()
%   params = corvaneParameters('Name', value, ...)
%   params = corvaneParameters(params, 'Name', value, ...)
%
%   Returns a struct holding every parameter that corvaneInitModel,
%   corvaneNeighborhood and corvaneMask use, set to its default and then
%   overridden by the given struct (its fields) and name/value pairs, in that
%   order. Names are matched without regard to case; an unknown name is an
%   error. Every function accepts the whole set and uses the parameters it
%   needs.
%
%   Colours are in 0..255 per channel; variances are per channel, in squared
%   colour units. The defaults were tuned for ordinary surveillance and traffic
%   video; one setting for every video.
%
%   Name                      Default  Meaning
%   mapRows                   3        rows of each pixel's neuron map
%                                      (NumMapRows); whole number 1..46340
%   mapColumns                3        columns of each pixel's neuron map
%                                      (NumMapColumns); K = mapRows*mapColumns
%   initialFrames             9        frames of the start: while frame
%                                      t <= initialFrames is segmented, the
%                                      model is built anew before it from
%                                      frames 1..t (corvaneStep): per pixel
%                                      and channel their median is the
%                                      starting colour, their robust spread
%                                      the pixel's starting variance; nothing
%                                      is read ahead; whole number >= 1
%   initialSpread             10       the starting neuron means lie evenly
%                                      from median - spread to median +
%                                      spread, all channels alike, clamped to
%                                      0..255; colour units
%   initialVariance           100      least starting variance of a neuron
%                                      (Sigma2), squared colour units
%   maximumVariance           100      cap on a neuron's variance
%                                      (MaximumVariance) of a pixel that was
%                                      steady in the leading frames, squared
%                                      colour units
%   varianceCapFactor         4        a pixel that varied in the leading
%                                      frames gets this times its variance
%                                      there as its cap (at least
%                                      maximumVariance)
%   maximumVarianceLimit      900      no cap above this, squared colour units
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
%   learningRate              0.02     rate per frame at which the winning
%                                      neuron moves towards the pixel's colour
%   neighborhoodWidth         1        width, in map cells, of the Gaussian
%                                      that spreads the learning rate over the
%                                      winner's map neighbours; 0 means only
%                                      the winner learns
%   calibrationFrames         0        frames at the start (1-based frame
%                                      numbers t = 1..calibrationFrames) whose
%                                      matrix uses the learning rate
%                                      max(learningRate, calibrationRate / t);
%                                      0 turns calibration off; whole number
%                                      >= 0
%   calibrationRate           1        the calibration rate above, per frame
%   maskThreshold             0.25     a pixel is foreground where imMask
%                                      exceeds this, a probability
%   medianSize                5        side of the square median filter on the
%                                      binary mask, pixels; odd whole number,
%                                      1 means no filter
%
%   priorFloor                0.005    between frames the prior Pi is kept at
%                                      least this (corvaneStep): after any
%                                      length of quiet an object is found as
%                                      after a minute; a probability
%   priorCeiling              0.95     ... and at most this: a pixel covered
%                                      for a very long time can still return
%                                      to background; a probability
%   flickerStep               0.05     every pixel's flicker variance (a
%                                      running median of its frame-to-frame
%                                      change, squared colour units per
%                                      channel) steps up or down by the ratio
%                                      1 + flickerStep each frame; 0 turns
%                                      the flicker tracking off
%   flickerCapFactor          8        a pixel's variance cap is raised to
%                                      this times its flicker variance less
%                                      minimumVariance (at most
%                                      maximumVarianceLimit), so that leaves
%                                      and shaking edges keep wide neurons
%
%   These are the defaults of the C++ setup (setup/ModelSetup.h,
%   ModelParameters) and of the corvane command; the test suite checks that
%   both build the same model, matrices and masks, bit for bit.
%
%   See also corvaneInitModel, corvaneNeighborhood, corvaneMask, Corvane.

% The defaults, in one place.
defaults = struct( ...
  'mapRows', 3, ...
  'mapColumns', 3, ...
  'initialFrames', 9, ...
  'initialSpread', 10.0, ...
  'initialVariance', 100.0, ...
  'maximumVariance', 100.0, ...
  'varianceCapFactor', 4.0, ...
  'maximumVarianceLimit', 900.0, ...
  'minimumVariance', 25.0, ...
  'initialPrior', 0.05, ...
  'stepSize', 0.01, ...
  'initialIndicatorVariance', 0.05, ...
  'learningRate', 0.02, ...
  'neighborhoodWidth', 1.0, ...
  'calibrationFrames', 0, ...
  'calibrationRate', 1.0, ...
  'maskThreshold', 0.25, ...
  'medianSize', 5, ...
  'priorFloor', 0.005, ...
  'priorCeiling', 0.95, ...
  'flickerStep', 0.05, ...
  'flickerCapFactor', 8.0);

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
% The whole-number parameters (32-bit integers in the C++ setup).
switch name
  case {'mapRows', 'mapColumns'}
    lowest = 1;
    highest = 46340;
  case 'initialFrames'
    lowest = 1;
    highest = 2147483647;
  case 'calibrationFrames'
    lowest = 0;
    highest = 2147483647;
  case 'medianSize'
    lowest = 1;
    highest = 2147483647;
  otherwise
    lowest = [];
end
if ~isempty(lowest)
  if value < lowest || value ~= fix(value) || value > highest
    error('Corvane:badParameter', 'parameter ''%s'' must be a whole number from %d to %d; it is %g', ...
          name, lowest, highest, value);
  end
  if strcmp(name, 'medianSize') && mod(value, 2) ~= 1
    error('Corvane:badParameter', 'parameter ''medianSize'' must be odd (1, 3, 5, ...); it is %d', value);
  end
end
params.(name) = value;
end
