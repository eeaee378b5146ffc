function [state, mask] = corvaneStep(state, frame, varargin)
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
%   mask   H x W logical, true for foreground: corvaneMask(state.model.imMask).
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
%   4. model = Corvane(model, frame, corvaneNeighborhood(params, 'frame', t)).
%   5. mask = corvaneMask(model.imMask, params).
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
                 'previousFrame', [], 'flicker', [], 'startCap', []);
else
  needed = {'params', 'frameNumber', 'model', 'leadingFrames', 'previousFrame', 'flicker', 'startCap'};
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
if params.flickerStep > 0 && t >= 2
  d = frame - state.previousFrame;
  change = (d(:, :, 1) .* d(:, :, 1) + d(:, :, 2) .* d(:, :, 2) + d(:, :, 3) .* d(:, :, 3)) / 3;
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
state.model = Corvane(model, frame, corvaneNeighborhood(params, 'frame', t));
state.frameNumber = t;
mask = corvaneMask(state.model.imMask, params);
end
