function [nhood, rate] = corvaneNeighborhood(varargin)
%CORVANENEIGHBORHOOD  Neuron neighbourhood matrix for Corvane, for a given frame.
%
%   nhood = corvaneNeighborhood()
%   nhood = corvaneNeighborhood('Name', value, ...)
%   nhood = corvaneNeighborhood(params, 'Name', value, ...)
%   nhood = corvaneNeighborhood(..., 'frame', t)
%   [nhood, rate] = corvaneNeighborhood(...)
%
%   Returns the K x K matrix (K = mapRows*mapColumns) passed to Corvane with
%   a frame. Column w holds the learning rate of every neuron of a pixel when
%   neuron w wins: neuron j, at grid distance d from w on the
%   mapRows x mapColumns map, moves at
%
%       rate * exp(-d^2 / (2 * neighborhoodWidth^2))
%
%   so the winner moves at rate and its map neighbours less. With
%   neighborhoodWidth 0 (or less) only the winner moves (winner-take-all).
%   Neuron j (0-based) sits at map row mod(j, mapRows), column
%   floor(j / mapRows), the column-major order of the map.
%
%   'frame', t gives the matrix to update frame t (1-based, counting every
%   frame given to Corvane since corvaneInitModel, the leading frames
%   included) with. The rate is learningRate, or during calibration
%   (t <= calibrationFrames) max(learningRate, calibrationRate / t). Without
%   'frame' the rate is learningRate: the matrix of every frame after
%   calibration, and of every frame when calibration is off (the default).
%   The second output is that rate; the matrix changes only when it does.
%
%   Parameters, as name/value pairs or a struct from corvaneParameters (see
%   'help corvaneParameters' for each one's meaning, unit and default):
%   mapRows, mapColumns, learningRate, neighborhoodWidth, calibrationFrames,
%   calibrationRate. Others are accepted and ignored, so one parameter set
%   serves every function.
%
%   The result equals, bit for bit, the C++ setup's NeighborhoodMatrixForFrame
%   (with 'frame') and BuildNeighborhoodMatrix (without), and the rate its
%   LearningRateForFrame: exp is the correctly rounded one of the C++ core,
%   taken from CorvaneDetectorMex, so the bits are the same on every
%   platform (without CorvaneDetectorMex on the path, MATLAB's exp is used,
%   whose last bit may differ).
%
%   See also corvaneParameters, corvaneInitModel, corvaneMask, Corvane.

% 'frame' is not a model parameter: take it out before the others are read.
args = varargin;
t = [];
i = 1;
if ~isempty(args) && isstruct(args{1})
  i = 2;
end
while i < numel(args)
  if ischar(args{i}) && strcmpi(args{i}, 'frame')
    t = args{i + 1};
    if ~isnumeric(t) || ~isreal(t) || numel(t) ~= 1 || ~isfinite(t) || t < 1 || t ~= fix(t)
      error('Corvane:badParameter', 'the frame number must be one whole number from 1 on');
    end
    t = double(t);
    args(i:i + 1) = [];
  else
    i = i + 2;
  end
end
params = corvaneParameters(args{:});

rate = params.learningRate;
if ~isempty(t) && t <= params.calibrationFrames
  calibration = params.calibrationRate / t;
  if calibration > rate
    rate = calibration;
  end
end

rows = params.mapRows;
K = rows * params.mapColumns;
width = params.neighborhoodWidth;
[j, w] = ndgrid(0:K - 1, 0:K - 1);   % element (j+1, w+1): neuron j when w wins
dr = mod(w, rows) - mod(j, rows);
dc = floor(w / rows) - floor(j / rows);
distance2 = dr .* dr + dc .* dc;
if width > 0
  nhood = rate * roundedExp(-distance2 ./ (2 * width * width));
else
  nhood = zeros(K, K);
  nhood(j == w) = rate;
end
end

function y = roundedExp(x)
% exp correctly rounded, from CorvaneDetectorMex: the exp of the C++ setup,
% so that the matrix has the same bits on every platform. MATLAB's and
% Octave's own exp come from the C library and may differ from it in the last
% bit; it is used only when CorvaneDetectorMex is not on the path.
persistent haveMex
if isempty(haveMex)
  haveMex = exist('CorvaneDetectorMex', 'file') == 3;
end
if haveMex
  y = CorvaneDetectorMex('exp', x);
else
  y = exp(x);
end
end
