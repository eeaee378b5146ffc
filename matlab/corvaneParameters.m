function [params, info] = corvaneParameters(varargin)
%CORVANEPARAMETERS  Parameters of a Corvane model's start, its neighbourhood matrix and its mask.
%
%   params = corvaneParameters()
%   params = corvaneParameters('Name', value, ...)
%   params = corvaneParameters(params, 'Name', value, ...)
%   [params, info] = corvaneParameters(...)
%
%   Returns a struct holding every parameter that corvaneInitModel,
%   corvaneNeighborhood and corvaneMask use, set to its default and then
%   overridden by the given struct (its fields) and name/value pairs, in that
%   order. Names are matched without regard to case. An unknown name, a value
%   that is not one finite real number, or a value outside the parameter's
%   range below raises an error with the identifier Corvane:badParameter.
%   Every function accepts the whole set and uses the parameters it needs.
%
%   info, when asked for, is a struct array with one element per parameter:
%   name, default, whole (a whole number), low, lowInclusive, high,
%   highInclusive (the allowed values lie between low and high, each end
%   included or not), odd (must be odd) and atLeast (the name of another
%   parameter it must not be below, or '').
%
%   Colours are in 0..255 per channel; variances are per channel, in squared
%   colour units. The defaults were tuned for ordinary surveillance and traffic
%   video; one setting for every video.
%
%   Name                      Default  Allowed    Meaning
%   mapRows                   2        1..8 (w)   rows of each pixel's neuron
%                                                 map (NumMapRows)
%   mapColumns                3        1..8 (w)   columns of each pixel's
%                                                 neuron map (NumMapColumns);
%                                                 K = mapRows*mapColumns
%   initialFrames             9        1..100     frames of the start: while
%                                      (w)        frame t <= initialFrames is
%                                                 segmented, the model is
%                                                 built anew before it from
%                                                 frames 1..t (corvaneStep):
%                                                 per pixel and channel their
%                                                 median is the starting
%                                                 colour, their robust spread
%                                                 the pixel's starting
%                                                 variance; nothing is read
%                                                 ahead
%   initialSpread             10       0..255     the starting neuron means lie
%                                                 evenly from median - spread
%                                                 to median + spread, all
%                                                 channels alike, clamped to
%                                                 0..255; colour units
%   initialVariance           100      0..65025   least starting variance of a
%                                                 neuron (Sigma2), squared
%                                                 colour units
%   maximumVariance           80       0..65025   cap on a neuron's variance
%                                                 (MaximumVariance) of a pixel
%                                                 that was steady in the
%                                                 leading frames, squared
%                                                 colour units
%   varianceCapFactor         4        0..100     a pixel that varied in the
%                                                 leading frames gets this
%                                                 times its variance there as
%                                                 its cap (at least
%                                                 maximumVariance)
%   maximumVarianceLimit      900      0..65025,  no cap above this, squared
%                                      at least   colour units
%                                      maximum-
%                                      Variance
%   minimumVariance           25       (0..65025] floor added to a neuron's
%                                                 variance inside the density
%                                                 (MinimumVariance), squared
%                                                 colour units
%   initialPrior              0.05     (0..1)     starting foreground prior of
%                                                 every pixel (Pi)
%   stepSize                  0.01     0..1       learning rate of Pi, Var and
%                                                 Cov per frame (StepSize)
%   initialIndicatorVariance  0.05     (0..0.25]  starting variance of the
%                                                 foreground indicator (Var);
%                                                 the covariances with existing
%                                                 neighbours (Cov) start equal
%                                                 to it, so the first frames
%                                                 are smoothed as a plain 3x3
%                                                 average
%   learningRate              0.02     0..1       rate per frame at which the
%                                                 winning neuron moves towards
%                                                 the pixel's colour
%   neighborhoodWidth         1        0..100     width, in map cells, of the
%                                                 Gaussian that spreads the
%                                                 learning rate over the
%                                                 winner's map neighbours; 0
%                                                 means only the winner learns
%   calibrationFrames         0        0..2^31-1  frames at the start (1-based
%                                      (w)        frame numbers t = 1 ..
%                                                 calibrationFrames) whose
%                                                 matrix uses the learning
%                                                 rate max(learningRate,
%                                                 calibrationRate / t); 0 turns
%                                                 calibration off
%   calibrationRate           1        0..100     the calibration rate above
%   maskThreshold             0.15     0..1       a pixel is foreground where
%                                                 imMask exceeds this (plus
%                                                 its blink feedback)
%   medianSize                5        1..31      side of the square median
%                                      (w, odd)   filter on the binary mask,
%                                                 pixels; 1 means no filter
%   medianShare               0.0003   0..1       the median filter grows
%                                                 with the frame: the largest
%                                                 odd side from medianSize to
%                                                 31 whose window holds at
%                                                 most this share of the
%                                                 frame's pixels; 0: always
%                                                 medianSize
%   priorFloor                0.005    0..1)      between frames the prior Pi
%                                                 is kept at least this
%                                                 (corvaneStep): after any
%                                                 length of quiet an object is
%                                                 found as after a minute
%   priorCeiling              0.95     (0..1],    ... and at most this: a pixel
%                                      at least   covered for a very long time
%                                      prior-     can still return to
%                                      Floor      background
%   flickerStep               0.05     0..1       every pixel's flicker
%                                                 variance (a running median
%                                                 of its frame-to-frame
%                                                 change, squared colour units
%                                                 per channel) steps up or
%                                                 down by the ratio
%                                                 1 + flickerStep per frame;
%                                                 0 turns flicker off
%   flickerCapFactor          8        0..1000    a pixel's variance cap is
%                                                 raised to this times its
%                                                 flicker variance less
%                                                 minimumVariance (at most
%                                                 maximumVarianceLimit):
%                                                 leaves and shaking edges
%                                                 keep wide neurons
%   neighborRadius            2        0..3 (w)   a pixel above its threshold
%                                                 whose colour neurons of
%                                                 neighborCount pixels within
%                                                 this many pixels hold is
%                                                 background (a shaking
%                                                 camera; ghosts); 0: no such
%                                                 test
%   neighborMatch             2        (0..100]   a neuron holds a colour
%                                                 within this times its
%                                                 variance (at most
%                                                 maximumVariance) plus
%                                                 minimumVariance, squared
%   neighborCount             6        1..48 (w)  pixels that must hold it;
%                                                 one below the threshold is
%                                                 enough for a still pixel
%   interiorGaps              1        0..48 (w)  a pixel whose neighbours'
%                                                 window has at most this
%                                                 many pixels at or below
%                                                 maskThreshold (or outside
%                                                 the image) is inside an
%                                                 object ...
%   interiorBlink             0.02     0..1       ... where, blinking less
%                                                 than this and not still,
%                                                 it skips the neighbour
%                                                 test; 0: never skipped
%   absorbFrames              5        0..100000  a pixel still for this many
%                                      (w)        frames (change below
%                                                 minimumVariance) that a
%                                                 neighbour explains takes
%                                                 the colour into its model
%                                                 (its farthest neuron); 0:
%                                                 never
%   staticShare               0.3      0..1)      ... and so does a still
%                                                 foreground pixel, still for
%                                                 this share of the frames so
%                                                 far: ghosts; 0: never
%   holeShare                 0.003    0..1       holes in the foreground of
%                                                 at most this share of the
%                                                 image are filled
%   closingSize               5        1..31      side of the square closing
%                                      (w, odd)   (dilation, then erosion) of
%                                                 the mask before its holes
%                                                 are filled; 1: none
%   blinkRate                 0.05     0..1       how fast each pixel's blink
%                                                 rate follows its decisions;
%                                                 0: no feedback
%   blinkThreshold            3        0..100     a pixel's threshold rises by
%                                                 this times its blink rate
%   shadows                   0        0..1 (w)   1: darker copies of the
%                                                 background are shadows
%   shadowLow                 0.5      0..1       darkest shadow (brightness
%                                                 ratio)
%   shadowHigh                0.9      0..1, at   lightest shadow
%                                      least
%                                      shadowLow
%   shadowDistortion          0.5      0..1000    a shadow lies off its
%                                                 background's colour by less
%                                                 than this times the
%                                                 variance, times ratio^2
%   shadowValue               0        0..254 (w) the mask's value for a
%                                                 shadow (OpenCV uses 127)
%
%   (w): a whole number. a..b includes both ends; ( or ) excludes that end.
%
%   These are the names, defaults and ranges of the C++ parameter table
%   (setup/ParameterTable.cpp) that the corvane command and the other hosts
%   read; the test suite checks that both agree on every one, and that both
%   build the same model, matrices and masks, bit for bit.
%
%   See also corvaneInitModel, corvaneNeighborhood, corvaneMask, Corvane.

% The parameters: name, default, whole number, low, low included, high, high
% included, odd, at least this other parameter.
rows = { ...
  'mapRows',                  2,    true,  1, true,  8,          true,  false, ''; ...
  'mapColumns',               3,    true,  1, true,  8,          true,  false, ''; ...
  'initialFrames',            9,    true,  1, true,  100,        true,  false, ''; ...
  'initialSpread',            10.0, false, 0, true,  255,        true,  false, ''; ...
  'initialVariance',          100,  false, 0, true,  65025,      true,  false, ''; ...
  'maximumVariance',          80,   false, 0, true,  65025,      true,  false, ''; ...
  'varianceCapFactor',        4.0,  false, 0, true,  100,        true,  false, ''; ...
  'maximumVarianceLimit',     900,  false, 0, true,  65025,      true,  false, 'maximumVariance'; ...
  'minimumVariance',          25,   false, 0, false, 65025,      true,  false, ''; ...
  'initialPrior',             0.05, false, 0, false, 1,          false, false, ''; ...
  'stepSize',                 0.01, false, 0, true,  1,          true,  false, ''; ...
  'initialIndicatorVariance', 0.05, false, 0, false, 0.25,       true,  false, ''; ...
  'learningRate',             0.02, false, 0, true,  1,          true,  false, ''; ...
  'neighborhoodWidth',        1.0,  false, 0, true,  100,        true,  false, ''; ...
  'calibrationFrames',        0,    true,  0, true,  2147483647, true,  false, ''; ...
  'calibrationRate',          1.0,  false, 0, true,  100,        true,  false, ''; ...
  'maskThreshold',            0.15, false, 0, true,  1,          true,  false, ''; ...
  'medianSize',               5,    true,  1, true,  31,         true,  true,  ''; ...
  'medianShare',              0.0003, false, 0, true, 1,         true,  false, ''; ...
  'priorFloor',               0.005, false, 0, true, 1,          false, false, ''; ...
  'priorCeiling',             0.95, false, 0, false, 1,          true,  false, 'priorFloor'; ...
  'flickerStep',              0.05, false, 0, true,  1,          true,  false, ''; ...
  'flickerCapFactor',         8.0,  false, 0, true,  1000,       true,  false, ''; ...
  'neighborRadius',           2,    true,  0, true,  3,          true,  false, ''; ...
  'neighborMatch',            2.0,  false, 0, false, 100,        true,  false, ''; ...
  'neighborCount',            6,    true,  1, true,  48,         true,  false, ''; ...
  'interiorGaps',             1,    true,  0, true,  48,         true,  false, ''; ...
  'interiorBlink',            0.02, false, 0, true,  1,          true,  false, ''; ...
  'absorbFrames',             5,    true,  0, true,  100000,     true,  false, ''; ...
  'staticShare',              0.3,  false, 0, true,  1,          false, false, ''; ...
  'holeShare',                0.003, false, 0, true, 1,          true,  false, ''; ...
  'closingSize',              5,    true,  1, true,  31,         true,  true,  ''; ...
  'blinkRate',                0.05, false, 0, true,  1,          true,  false, ''; ...
  'blinkThreshold',           3.0,  false, 0, true,  100,        true,  false, ''; ...
  'shadows',                  0,    true,  0, true,  1,          true,  false, ''; ...
  'shadowLow',                0.5,  false, 0, true,  1,          true,  false, ''; ...
  'shadowHigh',               0.9,  false, 0, true,  1,          true,  false, 'shadowLow'; ...
  'shadowDistortion',         0.5,  false, 0, true,  1000,       true,  false, ''; ...
  'shadowValue',              0,    true,  0, true,  254,        true,  false, ''};
info = cell2struct(rows, {'name', 'default', 'whole', 'low', 'lowInclusive', 'high', ...
                           'highInclusive', 'odd', 'atLeast'}, 2);
names = rows(:, 1);
params = cell2struct(rows(:, 2), names, 1);

args = varargin;
if ~isempty(args) && isstruct(args{1})
  given = args{1};
  if numel(given) ~= 1
    error('Corvane:badParameter', 'a parameter struct must have exactly one element');
  end
  givenNames = fieldnames(given);
  for i = 1:numel(givenNames)
    params = setParameter(params, info, givenNames{i}, given.(givenNames{i}));
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
  params = setParameter(params, info, args{i}, args{i + 1});
end

% Rules between two parameters, once every value is set.
for i = 1:numel(info)
  other = info(i).atLeast;
  if ~isempty(other) && params.(info(i).name) < params.(other)
    error('Corvane:badParameter', 'parameter ''%s'' must be at least %s (%.17g); it is %.17g', ...
          info(i).name, other, params.(other), params.(info(i).name));
  end
end
end

function params = setParameter(params, info, name, value)
match = find(strcmpi(name, {info.name}));
if isempty(match)
  known = {info.name};
  error('Corvane:badParameter', 'unknown parameter ''%s''; known: %s', name, sprintf('%s ', known{:}));
end
entry = info(match);
name = entry.name;
if ~isnumeric(value) || ~isreal(value) || numel(value) ~= 1 || ~isfinite(value)
  error('Corvane:badParameter', 'parameter ''%s'' must be one finite real number', name);
end
value = double(value);
if entry.lowInclusive
  inside = value >= entry.low;
else
  inside = value > entry.low;
end
if entry.highInclusive
  inside = inside && value <= entry.high;
else
  inside = inside && value < entry.high;
end
if entry.whole
  inside = inside && value == fix(value);
end
if entry.odd
  inside = inside && mod(value, 2) == 1;
end
if ~inside
  error('Corvane:badParameter', 'parameter ''%s'' must be %s; it is %.17g', name, ...
        describeAllowed(entry), value);
end
params.(name) = value;
end

function text = describeAllowed(entry)
if entry.whole
  if entry.odd
    text = sprintf('an odd whole number from %d to %d', entry.low, entry.high);
  else
    text = sprintf('a whole number from %d to %d', entry.low, entry.high);
  end
elseif entry.lowInclusive && entry.highInclusive
  text = sprintf('a number from %.17g to %.17g', entry.low, entry.high);
else
  ends = {'above', 'of at least'; 'below', 'at most'};
  text = sprintf('a number %s %.17g and %s %.17g', ends{1, 1 + entry.lowInclusive}, entry.low, ...
                 ends{2, 1 + entry.highInclusive}, entry.high);
end
end
