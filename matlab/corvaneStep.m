function [state, mask, shadow] = corvaneStep(state, frame, varargin)
%CORVANESTEP  Segment the next frame of a video, as the corvane command does.
%
%   [state, mask] = corvaneStep([], frame)                 first frame, defaults
%   [state, mask] = corvaneStep([], frame, params)         first frame
%   [state, mask] = corvaneStep([], frame, 'Name', value, ...)
%   [state, mask] = corvaneStep(state, frame)              every later frame
%
%   frame  the next H x W x 3 RGB frame, colours 0..255 (doubles, or any
%          real numeric class, converted with double(); do not rescale uint8
%          images to 0..1). Every frame must have the size of the first.
%   state  [] for the first frame; afterwards what the previous call
%          returned. It holds the parameters (fixed by the first call), the
%          model (state.model, whose imMask is the frame's foreground
%          probability), the frame count and what the start and the flicker
%          tracking keep between frames.
%   mask   H x W logical, true for foreground.
%   shadow H x W logical, true where a pixel was taken for a shadow (only
%          with shadows = 1): the command writes shadowValue there.
%
%   Each call does, in this order, what the C++ setup does around an update
%   (PrepareFrame in setup/FrameStream.h), so the masks equal the corvane
%   command's bit for bit. Frame t (1-based):
%   1. The start: while t <= initialFrames, the model is built anew from
%      frames 1..t (corvaneInitModel), with CurrentFrame = t - 1, and its
%      MaximumVariance is kept as the start cap. No frame is read ahead: the
%      mask of frame t depends on frames 1..t only.
%   2. The prior band: Pi below priorFloor is raised to it, Pi above
%      priorCeiling lowered to it. Where nothing moves the update shrinks the
%      prior without end, and the foreground probability of every colour with
%      it; the floor keeps an object as visible after hours of quiet as after
%      a minute. A prior of 1 would make every colour foreground and stop the
%      neurons learning; the ceiling keeps such a pixel able to return.
%   3. Flicker (from the second frame on, when flickerStep > 0): with d the
%      change of each channel since the previous frame,
%        change  = (d1.*d1 + d2.*d2 + d3.*d3) / 3
%        flicker = flicker * (1 + flickerStep) where change > flicker,
%                  flicker / (1 + flickerStep) elsewhere
%      (a running median of the change; it starts at minimumVariance), then
%        MaximumVariance = max(start cap, min(maximumVarianceLimit,
%                      flickerCapFactor * (flicker - minimumVariance)))
%      so that leaves in wind and edges that shake with the camera may keep
%      wide neurons, while camera noise leaves the start cap as it was.
%   Still counts (from the second frame on): a pixel whose change (above,
%   before the flicker step) is below minimumVariance counts one more still
%   frame, any other starts again from 0.
%   4. model = Corvane(model, frame, corvaneNeighborhood(params, 'frame', t)).
%   5. The decision (setup/MaskDecision.h): a pixel is foreground where
%      imMask exceeds maskThreshold + blinkThreshold * blink (at most 1),
%      unless neurons of neighborCount pixels within neighborRadius hold its
%      colour (squared distance below neighborMatch times the neuron's
%      variance, counted at most maximumVariance, plus minimumVariance; for a
%      pixel still for absorbFrames frames one such pixel at or below
%      maskThreshold is enough), or, with shadows = 1, it is a darker copy of
%      one of its neurons. The neighbours are not asked where the pixel lies
%      inside what is flagged (at most interiorGaps pixels of its window at
%      or below maskThreshold, or outside the image), blinks less than
%      interiorBlink and is not still.
%   6. The blink rate: where the last decision stood alone (foreground
%      between two of background, or the reverse) blink moves by blinkRate
%      towards 1, elsewhere towards 0.
%   7. Absorbing: a pixel still for absorbFrames frames that a neighbour at or
%      below the threshold explains, or that is foreground and still for
%      staticShare * t frames, takes the frame's colour into its neuron
%      farthest from it, with the variance min(initialVariance,
%      MaximumVariance).
%   8. mask = the median filter of the foreground decisions (medianSize,
%      grown with the frame by medianShare; see corvaneMask),
%      closed with a closingSize square (a dilation, then an erosion, each
%      over the window's pixels inside the image), with holes of at most
%      holeShare of the image filled.
%
%   Example
%     state = [];
%     for t = 1:size(video, 4)
%       [state, mask] = corvaneStep(state, video(:, :, :, t));
%       imshow(mask); drawnow;
%     end
%
%   See also corvaneParameters, corvaneInitModel, corvaneNeighborhood,
%   corvaneMask, Corvane.

if isempty(state)
  params = corvaneParameters(varargin{:});
  state = struct('params', params, 'frameNumber', 0, 'model', [], 'leadingFrames', [], ...
                 'previousFrame', [], 'flicker', [], 'startCap', [], 'still', [], ...
                 'history', [], 'blink', []);
else
  needed = {'params', 'frameNumber', 'model', 'leadingFrames', 'previousFrame', 'flicker', ...
            'startCap', 'still', 'history', 'blink'};
  if ~isstruct(state) || numel(state) ~= 1 || ~all(isfield(state, needed))
    error('Corvane:badState', 'the state must be [] for the first frame or what corvaneStep returned');
  end
  if ~isempty(varargin)
    error('Corvane:badParameter', 'the parameters are fixed by the first call; pass only the state and the frame');
  end
  params = state.params;
end
if ~isnumeric(frame) || ~isreal(frame) || issparse(frame)
  error('Corvane:badFrame', 'the frame must be a real numeric H x W x 3 array');
end
dims = size(frame);
if numel(dims) ~= 3 || dims(3) ~= 3 || any(dims == 0)
  error('Corvane:badFrame', 'the frame must be an H x W x 3 array; its size is %s', mat2str(dims));
end
H = dims(1);
W = dims(2);
if state.frameNumber > 0 && ~isequal(size(state.previousFrame), dims)
  error('Corvane:badFrame', 'frame %d is %s but the first frame was %s', state.frameNumber + 1, ...
        mat2str(dims), mat2str(size(state.previousFrame)));
end
frame = double(frame);
t = state.frameNumber + 1;

if t == 1
  state.flicker = repmat(params.minimumVariance, H, W);
  state.still = zeros(H, W);
  state.history = zeros(H, W);
  state.blink = zeros(H, W);
end
if t <= params.initialFrames
  state.leadingFrames = cat(4, state.leadingFrames, frame);
  state.model = corvaneInitModel(state.leadingFrames, params);
  state.model.CurrentFrame = t - 1;
  state.startCap = state.model.MaximumVariance;
  if t == params.initialFrames
    state.leadingFrames = [];
  end
end
model = state.model;
model.Pi(model.Pi < params.priorFloor) = params.priorFloor;
model.Pi(model.Pi > params.priorCeiling) = params.priorCeiling;
if t >= 2
  d = frame - state.previousFrame;
  change = (d(:, :, 1) .* d(:, :, 1) + d(:, :, 2) .* d(:, :, 2) + d(:, :, 3) .* d(:, :, 3)) / 3;
  calm = change < params.minimumVariance;
  state.still(calm) = state.still(calm) + 1;
  state.still(~calm) = 0;
end
if params.flickerStep > 0 && t >= 2
  up = 1 + params.flickerStep;
  q = state.flicker;
  rise = change > q;
  q(rise) = q(rise) * up;
  q(~rise) = q(~rise) / up;
  state.flicker = q;
  cap = params.flickerCapFactor * (q - params.minimumVariance);
  cap(cap > params.maximumVarianceLimit) = params.maximumVarianceLimit;
  low = cap < state.startCap;
  cap(low) = state.startCap(low);
  model.MaximumVariance = cap;
end
state.previousFrame = frame;
model = Corvane(model, frame, corvaneNeighborhood(params, 'frame', t));

decision = decide(model, frame, state.still, state.blink, params);
if params.blinkRate > 0
  now = double(decision == 255);
  last = double(state.history >= 2);
  before = state.history - 2 * last;
  blip = double(now ~= last & last ~= before);
  state.blink = state.blink + params.blinkRate * (blip - state.blink);
  state.history = 2 * now + last;
end
if params.absorbFrames > 0
  model = absorb(model, frame, decision, state.still, t, params);
end
state.model = model;
state.frameNumber = t;
mask = corvaneMask(double(decision == 255), 'maskThreshold', 0.5, 'medianSize', params.medianSize, ...
                  'medianShare', params.medianShare);
if params.closingSize > 1
  mask = closeMask(mask, floor(params.closingSize / 2));
end
if params.holeShare > 0
  mask = fillHoles(mask, floor(params.holeShare * (H * W)));
end
shadow = ~mask & decision == 2 & params.shadows ~= 0;
end

function decision = decide(model, frame, still, blink, params)
% Codes: 0 background, 1 explained by a neighbour at or below the threshold,
% 3 explained by neighbours above it, 2 shadow, 255 foreground.
[H, W, ~] = size(frame);
N = H * W;
K = numel(model.Sigma2) / N;
threshold = params.maskThreshold;
if params.blinkRate > 0
  threshold = params.maskThreshold + params.blinkThreshold * blink;
  threshold(threshold > 1) = 1;
end
imMask = model.imMask;
above = imMask > threshold;
decision = zeros(H, W);
decision(above) = 255;
x = reshape(frame, N, 3);
mu = reshape(model.Mu, 3, K, N);
sigma2 = reshape(model.Sigma2, K, N);
floorVariance = model.MinimumVariance(1);
if params.neighborRadius > 0
  R = params.neighborRadius;
  quiet = ~(imMask > params.maskThreshold);
  holders = zeros(H, W);       % neighbours that hold the pixel's colour
  quietHolders = zeros(H, W);  % ... of them at or below the threshold
  [rows, cols] = ndgrid(1:H, 1:W);
  for dc = -R:R
    for dr = -R:R
      if dr == 0 && dc == 0
        continue;
      end
      inside = above & rows + dr >= 1 & rows + dr <= H & cols + dc >= 1 & cols + dc <= W;
      p = find(inside);
      if isempty(p)
        continue;
      end
      q = p + dr + dc * H;
      holds = false(numel(p), 1);
      for j = 1:K
        m = reshape(mu(:, j, q), 3, []).';
        e0 = m(:, 1) - x(p, 1);
        e1 = m(:, 2) - x(p, 2);
        e2 = m(:, 3) - x(p, 3);
        v = sigma2(j, q).';
        wide = ~(v < params.maximumVariance);
        v(wide) = params.maximumVariance;
        holds = holds | (e0 .* e0 + e1 .* e1 + e2 .* e2 < params.neighborMatch * (v + floorVariance));
      end
      holders(p(holds)) = holders(p(holds)) + 1;
      mine = holds & quiet(q);
      quietHolders(p(mine)) = quietHolders(p(mine)) + 1;
    end
  end
  needed = repmat(params.neighborCount, H, W);
  if params.absorbFrames > 0
    needed(still >= params.absorbFrames) = 1;
  end
  % Inside what is flagged, a pixel that neither blinks nor is still keeps
  % its decision: at most interiorGaps pixels of its window at or below
  % maskThreshold, those outside the image counted as such.
  tested = true(H, W);
  if params.interiorBlink > 0
    side = 2 * R + 1;
    flagged = conv2(double(~quiet), ones(side), 'same');
    interior = side * side - flagged <= params.interiorGaps & blink < params.interiorBlink;
    if params.absorbFrames > 0
      interior(still >= params.absorbFrames) = false;
    end
    tested = ~interior;
  end
  decision(above & tested & holders >= params.neighborCount) = 3;
  decision(above & tested & quietHolders >= needed) = 1;
end
if params.shadows ~= 0
  p = find(decision == 255);
  dark = false(numel(p), 1);
  for j = 1:K
    m = reshape(mu(:, j, p), 3, []).';
    mm = m(:, 1) .* m(:, 1) + m(:, 2) .* m(:, 2) + m(:, 3) .* m(:, 3);
    alpha = (x(p, 1) .* m(:, 1) + x(p, 2) .* m(:, 2) + x(p, 3) .* m(:, 3)) ./ mm;
    e0 = x(p, 1) - alpha .* m(:, 1);
    e1 = x(p, 2) - alpha .* m(:, 2);
    e2 = x(p, 3) - alpha .* m(:, 3);
    off = e0 .* e0 + e1 .* e1 + e2 .* e2;
    s = sigma2(j, p).' + floorVariance;
    dark = dark | (mm > 0 & alpha >= params.shadowLow & alpha <= params.shadowHigh & ...
                   off < params.shadowDistortion * s .* (alpha .* alpha));
  end
  decision(p(dark)) = 2;
end
end

function model = absorb(model, frame, decision, still, t, params)
[H, W, ~] = size(frame);
N = H * W;
K = numel(model.Sigma2) / N;
least = still >= params.absorbFrames;
take = (decision == 1 & least) | ...
       (params.staticShare > 0 & decision == 255 & least & still >= params.staticShare * t);
p = find(take);
if isempty(p)
  return;
end
x = reshape(frame, N, 3);
mu = reshape(model.Mu, 3, K, N);
d2 = zeros(K, numel(p));
for j = 1:K
  m = reshape(mu(:, j, p), 3, []).';
  e0 = m(:, 1) - x(p, 1);
  e1 = m(:, 2) - x(p, 2);
  e2 = m(:, 3) - x(p, 3);
  d2(j, :) = (e0 .* e0 + e1 .* e1 + e2 .* e2).';
end
[~, farthest] = max(d2, [], 1);
for i = 1:numel(p)
  mu(:, farthest(i), p(i)) = x(p(i), :).';
  cap = model.MaximumVariance(p(i));
  v = cap;
  if params.initialVariance < cap
    v = params.initialVariance;
  end
  model.Sigma2((p(i) - 1) * K + farthest(i)) = v;
end
model.Mu = reshape(mu, size(model.Mu));
end

function mask = closeMask(mask, k)
% Dilation, then erosion, over the (2k+1) x (2k+1) window's pixels inside
% the image: the erosion is the complement of the dilation of the
% complement, which ignores the same outside pixels.
mask = ~windowAny(~windowAny(mask, k), k);
end

function hit = windowAny(on, k)
% Whether any pixel of each pixel's window inside the image is set.
[H, W] = size(on);
down = on;
for d = 1:min(k, H - 1)
  down(1:H - d, :) = down(1:H - d, :) | on(1 + d:H, :);
  down(1 + d:H, :) = down(1 + d:H, :) | on(1:H - d, :);
end
hit = down;
for d = 1:min(k, W - 1)
  hit(:, 1:W - d) = hit(:, 1:W - d) | down(:, 1 + d:W);
  hit(:, 1 + d:W) = hit(:, 1 + d:W) | down(:, 1:W - d);
end
end

function mask = fillHoles(mask, largest)
% Every 4-connected region of background that does not touch the border and
% has at most `largest` pixels becomes foreground. Regions are labelled by
% the smallest pixel index they hold, spread until nothing changes.
[H, W] = size(mask);
label = reshape(1:H * W, H, W);
label(mask) = Inf;
while true
  spread = label;
  spread(2:end, :) = min(spread(2:end, :), label(1:end - 1, :));
  spread(1:end - 1, :) = min(spread(1:end - 1, :), label(2:end, :));
  spread(:, 2:end) = min(spread(:, 2:end), label(:, 1:end - 1));
  spread(:, 1:end - 1) = min(spread(:, 1:end - 1), label(:, 2:end));
  spread(mask) = Inf;
  if isequal(spread, label)
    break;
  end
  label = spread;
end
background = label(~mask);
if isempty(background)
  return;
end
counts = accumarray(background(:), 1, [H * W, 1]);
edge = [label(1, :), label(end, :), label(:, 1).', label(:, end).'];
edge = edge(isfinite(edge));
small = counts <= largest;
small(edge) = false;
fill = ~mask;
fill(~mask) = small(background);
mask = mask | fill;
end
