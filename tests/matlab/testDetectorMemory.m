function testDetectorMemory(steps, checkResident)
% Memory stays flat: STEPS (default 10000) steps of one detector, and a
% hundred detectors of 1.5 MB of model each made and cleared, leave the
% process's resident memory where it was after a warm-up; and every
% detector is gone from the MEX file once its last handle is cleared, and
% one still alive when the file is unloaded is freed with it.
% (Linux: resident memory from /proc/self/statm. CHECKRESIDENT false skips
% those limits, for AddressSanitizer, which holds freed memory back.)
if nargin < 1
  steps = 10000;
end
if nargin < 2
  checkResident = true;
end
rand('state', 2); %#ok<RAND>
video = uint8(255 * rand(24, 32, 3, 8));
before = CorvaneDetectorMex('count');
det = CorvaneDetector(video);
for t = 1:500
  [mask, probability] = det.step(video(:, :, :, 1 + mod(t, 8))); %#ok<ASGLU>
end
start = residentBytes();
for t = 1:steps
  if mod(t, 2) == 0
    [mask, probability] = det.step(video(:, :, :, 1 + mod(t, 8))); %#ok<ASGLU>
  else
    mask = det.step(double(video(:, :, :, 1 + mod(t, 8)))); %#ok<NASGU>
  end
end
grown = residentBytes() - start;
fprintf('%d steps: resident memory grew by %.0f kB\n', steps, grown / 1024);
if checkResident && grown > 1024 * 1024
  error('test:memory', '%d steps grew resident memory by %.0f kB', steps, grown / 1024);
end
clear det

big = uint8(255 * rand(64, 64, 3, 3));
made = CorvaneDetector(big);
clear made
start = residentBytes();
for k = 1:100
  made = CorvaneDetector(big);
  made.step(big(:, :, :, 1));
  clear made
end
grown = residentBytes() - start;
fprintf('100 detectors made and cleared: resident memory grew by %.0f kB\n', grown / 1024);
if checkResident && grown > 8 * 1024 * 1024
  error('test:memory', '100 detectors made and cleared grew resident memory by %.0f kB', grown / 1024);
end
if CorvaneDetectorMex('count') ~= before
  error('test:memory', '%d detectors are left', CorvaneDetectorMex('count') - before);
end

% A detector still alive when the MEX file is unloaded: its memory goes
% with the file (a leak check, where one runs, sees anything left).
alive = CorvaneDetector(big);
alive.step(big(:, :, :, 1));
clear functions
if CorvaneDetectorMex('count') ~= 0
  error('test:memory', 'the reloaded MEX file holds %d detectors', CorvaneDetectorMex('count'));
end
end

function bytes = residentBytes()
fid = fopen('/proc/self/statm', 'r');
pages = fscanf(fid, '%d', 2);
fclose(fid);
bytes = pages(2) * 4096;
end
