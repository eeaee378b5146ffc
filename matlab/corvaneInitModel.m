function model = corvaneInitModel(frames, varargin)
%CORVANEINITMODEL  Build the starting Corvane background model from the leading frames.
%
%   model = corvaneInitModel(frames)
%   model = corvaneInitModel(frames, 'Name', value, ...)
%   model = corvaneInitModel(frames, params, 'Name', value, ...)
%
%   frames  an H x W x 3 image or an H x W x 3 x T stack of RGB colours in
%           0..255 (doubles, or any real numeric class, converted with
%           double(); do not rescale uint8 images to 0..1). Only the first
%           F = min(initialFrames, T) frames are used; the rest are ignored.
%           They must be finite.
%
%   The model is not updated with any frame here: CurrentFrame is 0.
%   corvaneStep, which segments a video as the corvane command does, calls
%   this before each of frames 1..initialFrames with the frames so far, so
%   that nothing is read ahead; use corvaneStep rather than a loop of your
%   own, which would also miss the prior band and the flicker tracking the
%   command applies between frames.
%
%   How the model starts, per pixel p and channel:
%     med  the median of the F values (for even F the mean of the two middle
%          ones, (a + b) / 2);
%     mad  the median of |x - med| over the F values, s = 1.4826 * mad;
%     v    (sR*sR + sG*sG + sB*sB) / 3, the pixel's variance in the leading
%          frames (0 when F = 1).
%   Then
%     MaximumVariance = min(maximumVarianceLimit,
%                           max(maximumVariance, varianceCapFactor * v))
%     Sigma2          = min(MaximumVariance, max(initialVariance, v)), all K
%                       neurons alike
%     Mu(ch, j, p)    = med + o_j clamped to 0..255, with
%                       o_j = initialSpread * (2*(j-1)/(K-1) - 1) (0 if K = 1)
%   Pi starts at initialPrior, Var at initialIndicatorVariance, each
%   covariance with an existing backward neighbour (above, above-left, left,
%   below-left) at initialIndicatorVariance and with a missing one at 0.
%   imMask, NeuroWin and CurrentFrame start at 0.
%
%   Parameters, as name/value pairs or a struct from corvaneParameters (see
%   'help corvaneParameters' for each one's meaning, unit and default):
%   mapRows, mapColumns, initialFrames, initialSpread, initialVariance,
%   maximumVariance, varianceCapFactor, maximumVarianceLimit,
%   minimumVariance, initialPrior, stepSize, initialIndicatorVariance. The
%   others are accepted and ignored, so one parameter set serves every
%   function.
%
%   The result has every field Corvane needs, in these shapes (N = H*W,
%   K = mapRows*mapColumns): Mu 3 x K x N, Sigma2 K x N, Cov 4 x N, imMask,
%   Pi, NeuroWin, Var and MaximumVariance H x W, the rest scalars. It equals,
%   bit for bit, the model of the C++ setup (BuildInitialModelFromFrames; for
%   a single frame, BuildInitialModel).
%
%   Example
%     state = [];
%     for t = 1:size(video, 4)
%       [state, foreground] = corvaneStep(state, video(:, :, :, t));
%     end
%
%   See also corvaneStep, corvaneParameters, corvaneNeighborhood, corvaneMask, Corvane.

params = corvaneParameters(varargin{:});
if ~isnumeric(frames) || ~isreal(frames) || issparse(frames)
  error('Corvane:badFrame', 'the frames must be a real numeric H x W x 3 (x T) array');
end
dims = size(frames);
if numel(dims) < 3 || numel(dims) > 4 || dims(3) ~= 3 || any(dims == 0)
  error('Corvane:badFrame', 'the frames must be an H x W x 3 or H x W x 3 x T array; size is %s', mat2str(dims));
end
H = dims(1);
W = dims(2);
N = H * W;
K = params.mapRows * params.mapColumns;
if N > 2147483647 || K > 2147483647
  error('Corvane:badFrame', 'the image (%d pixels) or the map (%d neurons) is too large', N, K);
end
T = size(frames, 4);
F = min(params.initialFrames, T);
% values(i, f): element i of frame f, i = ch*N + p + 1 (0-based ch and p),
% the layout of one frame. Taken in slices of elements, so that the sorted
% copies stay small however large the frames are; every element is computed
% on its own, so the slicing does not change any result.
values = reshape(frames(:, :, :, 1:F), 3 * N, F);
med = zeros(3 * N, 1);
mad = zeros(3 * N, 1);
slice = 262144;
for first = 1:slice:3 * N
  rows = first:min(first + slice - 1, 3 * N);
  x = double(values(rows, :));
  if ~all(isfinite(x(:)))
    error('Corvane:badFrame', 'the leading frames hold NaN or infinite values');
  end
  % The leading-frame statistics, with the C++ setup's operation order.
  med(rows) = middleValue(sort(x, 2));
  if F > 1
    mad(rows) = middleValue(sort(abs(bsxfun(@minus, x, med(rows))), 2));
  end
end
if F < 2
  v = zeros(N, 1);
else
  s = 1.4826 * reshape(mad, N, 3);
  v = (s(:, 1) .* s(:, 1) + s(:, 2) .* s(:, 2) + s(:, 3) .* s(:, 3)) / 3;
end
cap = params.varianceCapFactor * v;
cap(cap < params.maximumVariance) = params.maximumVariance;
cap(cap > params.maximumVarianceLimit) = params.maximumVarianceLimit;
start = repmat(params.initialVariance, N, 1);
larger = v > params.initialVariance;
start(larger) = v(larger);
over = start > cap;
start(over) = cap(over);

% Neuron j (1-based) of every pixel starts at med + o_j in every channel.
if K > 1
  offsets = params.initialSpread * (2 * (0:K - 1) / (K - 1) - 1);
else
  offsets = 0;
end
colours = reshape(reshape(med, N, 3).', 3, 1, N);         % colours(ch, 1, p)
model = struct();
model.Mu = bsxfun(@plus, colours, reshape(offsets, 1, K));  % Mu(ch, j, p)
model.Mu(model.Mu < 0) = 0;
model.Mu(model.Mu > 255) = 255;
model.Sigma2 = repmat(start.', K, 1);
model.imMask = zeros(H, W);
model.Pi = repmat(params.initialPrior, H, W);
model.NeuroWin = zeros(H, W);
model.Var = repmat(params.initialIndicatorVariance, H, W);

% Slot s of pixel p holds the covariance with its backward neighbour s: above,
% above-left, left, below-left; 0 where that neighbour lies outside the image.
[r, c] = ndgrid(0:H - 1, 0:W - 1);
exists = [r(:).' > 0; r(:).' > 0 & c(:).' > 0; c(:).' > 0; r(:).' + 1 < H & c(:).' > 0];
model.Cov = zeros(4, N);
model.Cov(exists) = params.initialIndicatorVariance;

model.MaximumVariance = reshape(cap, H, W);
model.NumMapRows = params.mapRows;
model.NumMapColumns = params.mapColumns;
model.NumImageRows = H;
model.NumImageColumns = W;
model.MinimumVariance = params.minimumVariance;
model.StepSize = params.stepSize;
model.CurrentFrame = 0;
end

function m = middleValue(sorted)
% The median of each row of a row-sorted matrix: the middle value, or for an
% even count (a + b) / 2 of the two middle ones.
F = size(sorted, 2);
if mod(F, 2) == 1
  m = sorted(:, (F + 1) / 2);
else
  m = (sorted(:, F / 2) + sorted(:, F / 2 + 1)) / 2;
end
end
