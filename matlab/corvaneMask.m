function mask = corvaneMask(imMask, varargin)
%CORVANEMASK  Binary foreground mask of a Corvane foreground probability map.
%
%   mask = corvaneMask(imMask)
%   mask = corvaneMask(imMask, 'Name', value, ...)
%   mask = corvaneMask(imMask, params, 'Name', value, ...)
%
%   imMask  the H x W foreground probability map Corvane leaves in
%           model.imMask (real numbers; NaN counts as background).
%   mask    H x W logical: true for foreground. uint8(255 * mask) is the mask
%           the corvane command writes.
%
%   A pixel is foreground where imMask > maskThreshold. Then, when the
%   median's side k is above 1, a k x k median filter runs over that binary
%   map with zeros outside the image: a pixel stays foreground when at least
%   (k*k + 1) / 2 pixels of its window are (what medfilt2(mask, [k k]) gives;
%   no toolbox is needed here). It removes specks and fills pinholes. k is
%   medianSize, grown with the image when medianShare is above 0 (and
%   medianSize above 1): the largest odd k up to 31 whose k x k window holds
%   at most medianShare * H * W pixels (5 for 320 x 240, 9 for 640 x 480).
%
%   Parameters, as name/value pairs or a struct from corvaneParameters (see
%   'help corvaneParameters'): maskThreshold (default 0.15), medianSize
%   (default 5) and medianShare (default 0.0003). Others are accepted and
%   ignored.
%
%   The result equals, bit for bit, the C++ setup's ThresholdMask (true where
%   it writes 255).
%
%   Example
%     model = Corvane(model, frame, nhood);
%     imwrite(uint8(255 * corvaneMask(model.imMask)), 'mask.png');
%
%   See also corvaneParameters, corvaneInitModel, corvaneNeighborhood, Corvane.

params = corvaneParameters(varargin{:});
if ~(isnumeric(imMask) || islogical(imMask)) || ~isreal(imMask) || issparse(imMask) || ndims(imMask) ~= 2
  error('Corvane:badMask', 'the probability map must be a real, full H x W array');
end
on = double(imMask) > params.maskThreshold;
[H, W] = size(on);
k = params.medianSize;
if k > 1 && params.medianShare > 0
  window = params.medianShare * (H * W);   % one double product, as the C++ setup
  while k + 2 <= 31 && (k + 2) * (k + 2) <= window
    k = k + 2;
  end
end
if k <= 1 || isempty(on)
  mask = on;
  return;
end
% Summed-area table with a zero first row and column: sums(r + 1, c + 1) counts
% the foreground pixels in rows 1..r, columns 1..c. Window counts of whole
% numbers are exact in doubles.
sums = zeros(H + 1, W + 1);
sums(2:end, 2:end) = cumsum(cumsum(double(on), 1), 2);
half = floor(k / 2);
r0 = max((1:H).' - half, 1);       % window rows r0..r1, clipped to the image
r1 = min((1:H).' + half, H);
c0 = max((1:W) - half, 1);         % window columns c0..c1
c1 = min((1:W) + half, W);
count = sums(r1 + 1, c1 + 1) - sums(r0, c1 + 1) - sums(r1 + 1, c0) + sums(r0, c0);
mask = count >= floor((k * k + 1) / 2);
end
