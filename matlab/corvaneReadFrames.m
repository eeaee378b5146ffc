function video = corvaneReadFrames(source, maxFrames)
%CORVANEREADFRAMES  Read a video's frames into an H x W x 3 x T uint8 array.
%
%   video = corvaneReadFrames(source)
%   video = corvaneReadFrames(source, maxFrames)
%
%   Reads what the corvane command reads, in MATLAB and in GNU Octave
%   (which has no VideoReader):
%     - a Motion-JPEG AVI file, such as data/sample/highway-160x120.avi:
%       every frame is a JPEG image, decoded with imread;
%     - a folder of images (png, jpg, jpeg, bmp, ppm, pgm, tif, tiff), in
%       name order;
%     - a printf-style pattern of numbered images, e.g. 'input/in%06d.jpg',
%       from the first number from 0 to 9999 that exists up to the first
%       that is missing;
%     - any other video file through MATLAB's VideoReader, where there is
%       one (Octave: convert it to images first, for instance with
%       ffmpeg -i video.mp4 frames/%06d.png).
%   maxFrames (default Inf) stops after that many frames. Grey images are
%   repeated over three channels. The result is what CorvaneDetector,
%   corvaneStep and corvaneInitModel take (convert with double() for the
%   struct call; colours stay 0..255):
%
%       video = corvaneReadFrames('data/sample/highway-160x120.avi');
%       det = CorvaneDetector();
%       for t = 1:size(video, 4)
%         mask = det.step(video(:, :, :, t));
%       end
%
%   The JPEG frames are decoded by imread, as the corvane command decodes
%   an image sequence; its video reader (FFmpeg) may round a few colours of
%   the same AVI differently, so masks can differ from corvane segment on
%   the .avi in a few pixels. A folder or pattern gives the command's
%   frames exactly.
%
%   Errors: Corvane:badSource (nothing to read there, an AVI that is not
%   Motion-JPEG, frames of different sizes), Corvane:badParameter (maxFrames
%   not a whole number from 1).
%
%   See also CorvaneDetector, corvaneStep, corvaneInitModel.

if nargin < 2 || isempty(maxFrames)
  maxFrames = Inf;
end
if ~isnumeric(maxFrames) || ~isscalar(maxFrames) || ~isreal(maxFrames) || isnan(maxFrames) ...
    || maxFrames < 1 || (isfinite(maxFrames) && maxFrames ~= fix(maxFrames))
  error('Corvane:badParameter', 'maxFrames must be a whole number from 1 (or Inf)');
end
if ~ischar(source) || isempty(source)
  error('Corvane:badSource', 'source must be a file, folder or image pattern, as text');
end

if exist(source, 'dir')
  names = imageFiles(source);
  if isempty(names)
    error('Corvane:badSource', 'the folder %s holds no image files', source);
  end
  names = names(1:min(numel(names), maxFrames));
  video = readImages(names);
elseif any(source == '%')
  video = readImages(patternFiles(source, maxFrames));
elseif exist(source, 'file')
  [~, ~, extension] = fileparts(source);
  if strcmpi(extension, '.avi') && isMotionJpeg(source)
    video = readMotionJpeg(source, maxFrames);
  elseif exist('VideoReader') ~= 0 %#ok<EXIST>
    video = readWithVideoReader(source, maxFrames);
  else
    error('Corvane:badSource', ['%s is not a Motion-JPEG AVI, and this host has no VideoReader ' ...
          '(Octave has none): convert it to images first, e.g. ffmpeg -i %s frames/%%06d.png, ' ...
          'and read the folder'], source, source);
  end
else
  error('Corvane:badSource', 'no file or folder %s', source);
end
end

function names = imageFiles(folder)
listing = dir(folder);
names = {};
kinds = {'.png', '.jpg', '.jpeg', '.bmp', '.ppm', '.pgm', '.tif', '.tiff'};
for i = 1:numel(listing)
  [~, ~, extension] = fileparts(listing(i).name);
  if ~listing(i).isdir && any(strcmpi(extension, kinds))
    names{end + 1} = fullfile(folder, listing(i).name); %#ok<AGROW>
  end
end
names = sort(names);
end

function names = patternFiles(pattern, maxFrames)
first = -1;
for n = 0:9999
  if exist(sprintf(pattern, n), 'file')
    first = n;
    break;
  end
end
if first < 0
  error('Corvane:badSource', 'no image matches %s for a number from 0 to 9999', pattern);
end
names = {};
n = first;
while numel(names) < maxFrames && exist(sprintf(pattern, n), 'file')
  names{end + 1} = sprintf(pattern, n); %#ok<AGROW>
  n = n + 1;
end
end

function video = readImages(names)
for t = 1:numel(names)
  frame = asColour(imread(names{t}), names{t});
  if t == 1
    video = zeros([size(frame), numel(names)], 'uint8');
  elseif ~isequal(size(frame), size(video(:, :, :, 1)))
    error('Corvane:badSource', '%s is %d x %d, but the first frame is %d x %d', names{t}, ...
          size(frame, 1), size(frame, 2), size(video, 1), size(video, 2));
  end
  video(:, :, :, t) = frame;
end
end

function frame = asColour(frame, name)
if size(frame, 3) == 1
  frame = repmat(frame, [1 1 3]);
elseif size(frame, 3) == 4
  frame = frame(:, :, 1:3);
end
if size(frame, 3) ~= 3
  error('Corvane:badSource', '%s has %d channels', name, size(frame, 3));
end
if isa(frame, 'uint16')
  frame = uint8(double(frame) / 257);
elseif ~isa(frame, 'uint8')
  frame = uint8(frame);
end
end

function yes = isMotionJpeg(file)
% The AVI's stream header names the codec: MJPG (or another name of
% Motion-JPEG) in the fccHandler of a video stream ('strh' ... 'vids').
fid = fopen(file, 'r');
header = fread(fid, 65536, 'uint8=>char')';
fclose(fid);
at = strfind(header, 'vids');
yes = false;
if ~isempty(at) && at(1) + 7 <= numel(header)
  codec = upper(header(at(1) + 4:at(1) + 7));
  yes = any(strcmp(codec, {'MJPG', 'AVRN', 'LJPG', 'JPGL', 'DMB1'}));
end
end

function video = readMotionJpeg(file, maxFrames)
% Walks the AVI's frame list (movi): each ##dc or ##db chunk of a
% Motion-JPEG stream is one JPEG image, which imread decodes from a
% temporary file.
fid = fopen(file, 'r');
bytes = fread(fid, Inf, 'uint8=>uint8');
fclose(fid);
movi = strfind(char(bytes(1:min(end, 1048576)))', 'movi');
if isempty(movi)
  error('Corvane:badSource', '%s has no frame list (movi): not a readable AVI', file);
end
at = movi(1) + 4;
total = numel(bytes);
starts = [];
lengths = [];
while at + 7 <= total && numel(starts) < maxFrames
  id = char(bytes(at:at + 3))';
  size4 = double(bytes(at + 4:at + 7));
  chunk = size4(1) + 256 * size4(2) + 65536 * size4(3) + 16777216 * size4(4);
  if strcmp(id, 'LIST')
    at = at + 12;           % a list of chunks (rec): its chunks follow
    continue;
  end
  if strcmp(id, 'idx1')
    break;
  end
  data = at + 8;
  if data + chunk - 1 > total
    break;                  % a truncated last chunk: the frames before it
  end
  if chunk > 2 && any(strcmp(id(3:4), {'dc', 'db'})) && bytes(data) == 255 && bytes(data + 1) == 216
    starts(end + 1) = data; %#ok<AGROW>
    lengths(end + 1) = chunk; %#ok<AGROW>
  end
  at = data + chunk + mod(chunk, 2);
end
if isempty(starts)
  error('Corvane:badSource', '%s holds no JPEG frame', file);
end
scratch = [tempname(), '.jpg'];
cleanup = onCleanup(@() deleteIfThere(scratch));
for t = 1:numel(starts)
  fid = fopen(scratch, 'w');
  fwrite(fid, bytes(starts(t):starts(t) + lengths(t) - 1), 'uint8');
  fclose(fid);
  frame = asColour(imread(scratch), sprintf('%s, frame %d', file, t));
  if t == 1
    video = zeros([size(frame), numel(starts)], 'uint8');
  elseif ~isequal(size(frame), size(video(:, :, :, 1)))
    error('Corvane:badSource', 'frame %d of %s has another size than the first', t, file);
  end
  video(:, :, :, t) = frame;
end
end

function video = readWithVideoReader(file, maxFrames)
reader = VideoReader(file);
video = [];
t = 0;
while hasFrame(reader) && t < maxFrames
  t = t + 1;
  frame = asColour(readFrame(reader), file);
  if t == 1
    video = frame;
  else
    video(:, :, :, t) = frame; %#ok<AGROW>
  end
end
if isempty(video)
  error('Corvane:badSource', '%s holds no frame', file);
end
end

function deleteIfThere(file)
if exist(file, 'file')
  delete(file);
end
end
