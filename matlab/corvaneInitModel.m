function model = corvaneInitModel(frames, varargin)
%CORVANEINITMODEL  Build an initial Corvane background model.
%
%   model = corvaneInitModel(frame)
%   model = corvaneInitModel(frames)
%   model = corvaneInitModel(..., 'Name', value, ...)
%   model = corvaneInitModel(..., params)
%
%   frame   an H x W x 3 image of colours in 0..255 (doubles, or any real
%           numeric class, converted with double()).
%   frames  an H x W x 3 x T stack. The model is built from the first frame;
%           each further frame then updates it once with Corvane and the
%           neighbourhood matrix of the same parameters (a warm-up, which
%           needs Corvane on the path). CurrentFrame counts those updates.
%
%   Every neuron of a pixel starts at that pixel's colour in the first frame,
%   with variance initialVariance. Pi starts at initialPrior, Var at
%   initialIndicatorVariance, each covariance with an existing backward
%   neighbour (above, above-left, left, below-left) at initialIndicatorVariance
%   and with a missing one at 0. imMask, NeuroWin and CurrentFrame start at 0.
%
%   Parameters, as name/value pairs or a struct from corvaneParameters (see
%   'help corvaneParameters' for each one's meaning, unit and default):
%   mapRows, mapColumns, initialVariance, maximumVariance, minimumVariance,
%   initialPrior, stepSize, initialIndicatorVariance; learningRate and
%   neighborhoodWidth matter only for the warm-up.
%
%   The result has every field Corvane needs, in these shapes (N = H*W,
%   K = mapRows*mapColumns): Mu 3 x K x N, Sigma2 K x N, Cov 4 x N, imMask,
%   Pi, NeuroWin, Var and MaximumVariance H x W, the rest scalars. It equals,
%   bit for bit, the model of the C++ setup (BuildInitialModel).
%
%   Example
%     model = corvaneInitModel(double(firstFrame), 'mapRows', 2, 'mapColumns', 2);
%     nhood = corvaneNeighborhood('mapRows', 2, 'mapColumns', 2);
%     model = Corvane(model, double(nextFrame), nhood);
%
%   See also corvaneParameters, corvaneNeighborhood, Corvane.

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
first = double(frames(:, :, :, 1));

% Field by field as the C++ setup builds them. Constants are replicated, not
% multiplied, so every element is exactly the parameter's value.
model = struct();
planes = reshape(first, N, 3).';                      % 3 x N, pixel colours
model.Mu = repmat(reshape(planes, 3, 1, N), [1 K 1]);  % Mu(ch, j, p)
model.Sigma2 = repmat(params.initialVariance, K, N);
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

model.MaximumVariance = repmat(params.maximumVariance, H, W);
model.NumMapRows = params.mapRows;
model.NumMapColumns = params.mapColumns;
model.NumImageRows = H;
model.NumImageColumns = W;
model.MinimumVariance = params.minimumVariance;
model.StepSize = params.stepSize;
model.CurrentFrame = 0;

if numel(dims) == 4 && dims(4) > 1
  nhood = corvaneNeighborhood(params);
  for t = 2:dims(4)
    model = Corvane(model, double(frames(:, :, :, t)), nhood);
  end
end
end
