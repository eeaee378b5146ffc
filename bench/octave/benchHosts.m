function results = benchHosts(varargin)
%BENCHHOSTS  Milliseconds per frame of every way to run a frame, side by side.
%
%   results = benchHosts()
%   results = benchHosts('sizes', [240 320; 480 640], 'maps', [3 4], 'repeats', 15)
%
%   For each image size and map (K = side^2 neurons per pixel), on the same
%   synthetic frames (a textured background with noise and a moving square)
%   and in turn, frame after frame, so that all see the same machine load:
%
%     reference      the four-pass update (UpdateModelReference), 1 thread
%     UpdateModel    the one-sweep update, 1 thread and every thread
%     struct call    model = Corvane(model, frame, nhood) in this Octave, with
%                    CORVANE_THREADS 1 and every thread; the frame is double
%     step           mask = det.step(frame) of a CorvaneDetector with Threads 1
%                    and every thread; the frame is uint8, the mask logical
%     MOG2, KNN      OpenCV's subtractors at their defaults on the same frames
%                    (as BGR), cv::setNumThreads 1 and every thread
%
%   The C++ methods are timed inside C++ (corvaneHostBench), the struct call
%   and step around the call as a user makes it. Medians over REPEATS frames
%   (after two not timed) of wall-clock time, or with 'clock', 'cpu' of the
%   process's CPU time (every thread's, system time included: on a machine
%   busy with other work the single-thread columns stay comparable, the
%   others add up their threads). The ratios are the struct call's and the
%   step's time over UpdateModel's at the same thread count, and UpdateModel's
%   on every thread over its time on one. Prints one table and returns the
%   figures.
%
%   Needs Corvane.oct, CorvaneDetector (with CorvaneDetectorMex) and
%   corvaneHostBench on the path (bench/run.sh sets it up).

opts = struct('sizes', [240 320; 480 640; 720 1280], 'maps', [3 4], 'repeats', 15, ...
              'frames', 8, 'threads', nproc(), 'clock', 'wall');
for i = 1:2:numel(varargin)
  opts.(varargin{i}) = varargin{i + 1};
end
most = opts.threads;
results = struct('H', {}, 'W', {}, 'K', {}, 'ms', {});
fprintf('\n%s clock, ms per frame\n%s\n', opts.clock, header(most));
for s = 1:size(opts.sizes, 1)
  H = opts.sizes(s, 1);
  W = opts.sizes(s, 2);
  for side = opts.maps
    video = synthetic(H, W, opts.frames + 10);
    params = corvaneParameters('mapRows', side, 'mapColumns', side);
    % A model that has learnt the scene: the start and a frame past it.
    learnt = CorvaneDetector(video(:, :, :, 1:10), params);
    model = learnt.Model;
    clear learnt
    video = video(:, :, :, 11:end);
    frames = double(video);
    nhood = corvaneNeighborhood(params, 'frame', 100);
    corvaneHostBench('start', model, video, nhood);
    one = CorvaneDetector(model, params, 'Threads', 1);
    many = CorvaneDetector(model, params, 'Threads', most);
    names = {'reference', 'update1', 'updateAll', 'struct1', 'structAll', 'step1', 'stepAll', ...
             'mog2One', 'mog2All', 'knnOne', 'knnAll'};
    wall = zeros(opts.repeats + 2, numel(names));
    cpu = wall;
    for r = 1:opts.repeats + 2
      f = 1 + mod(r - 1, opts.frames);
      frame = frames(:, :, :, f);
      image = video(:, :, :, f);
      [wall(r, 1), cpu(r, 1)] = corvaneHostBench('reference', f, 1);
      [wall(r, 2), cpu(r, 2)] = corvaneHostBench('update', f, 1);
      [wall(r, 3), cpu(r, 3)] = corvaneHostBench('update', f, most);
      setenv('CORVANE_THREADS', '1');
      c = cputime(); tic; model = Corvane(model, frame, nhood);
      wall(r, 4) = toc; cpu(r, 4) = cputime() - c;
      setenv('CORVANE_THREADS', sprintf('%d', most));
      c = cputime(); tic; model = Corvane(model, frame, nhood);
      wall(r, 5) = toc; cpu(r, 5) = cputime() - c;
      setenv('CORVANE_THREADS', '');
      c = cputime(); tic; mask = one.step(image); %#ok<NASGU>
      wall(r, 6) = toc; cpu(r, 6) = cputime() - c;
      c = cputime(); tic; mask = many.step(image); %#ok<NASGU>
      wall(r, 7) = toc; cpu(r, 7) = cputime() - c;
      [wall(r, 8), cpu(r, 8)] = corvaneHostBench('mog2', f, 1);
      [wall(r, 9), cpu(r, 9)] = corvaneHostBench('mog2', f, most);
      [wall(r, 10), cpu(r, 10)] = corvaneHostBench('knn', f, 1);
      [wall(r, 11), cpu(r, 11)] = corvaneHostBench('knn', f, most);
    end
    if strcmp(opts.clock, 'cpu')
      times = cpu;
    else
      times = wall;
    end
    clear one many model
    corvaneHostBench('clear');
    ms = 1000 * median(times(3:end, :), 1);
    figures = cell2struct(num2cell(ms), names, 2);
    results(end + 1) = struct('H', H, 'W', W, 'K', side^2, 'ms', figures); %#ok<AGROW>
    fprintf('%s\n', row(H, W, side^2, figures));
  end
end
end

function text = header(most)
text = sprintf(['| image | K | reference | UpdateModel 1 | UpdateModel %d | struct call 1 | ' ...
                'struct call %d | step 1 | step %d | MOG2 1 | MOG2 %d | KNN 1 | KNN %d |\n' ...
                '|---|---|---|---|---|---|---|---|---|---|---|---|---|'], most, most, most, most, most);
end

function text = row(H, W, K, m)
text = sprintf(['| %dx%d | %d | %.1f | %.1f | %.1f (%.2f) | %.1f (%.2f) | %.1f (%.2f) | %.1f (%.2f) | ' ...
                '%.1f (%.2f) | %.1f | %.1f | %.1f | %.1f |'], W, H, K, m.reference, m.update1, ...
               m.updateAll, m.updateAll / m.update1, m.struct1, m.struct1 / m.update1, m.structAll, ...
               m.structAll / m.updateAll, ...
               m.step1, m.step1 / m.update1, m.stepAll, m.stepAll / m.updateAll, m.mog2One, ...
               m.mog2All, m.knnOne, m.knnAll);
end

function video = synthetic(H, W, T)
% A textured background with noise and a square moving across it.
rand('state', 7); %#ok<RAND>
randn('state', 7); %#ok<RAND>
[x, y] = meshgrid(1:W, 1:H);
background = cat(3, 80 + 40 * sin(x / 9), 120 + 30 * cos(y / 7), 60 + 20 * sin((x + y) / 11));
side = max(1, round(H / 5));
video = zeros(H, W, 3, T, 'uint8');
for t = 1:T
  frame = background + 4 * randn(H, W, 3);
  r = 1 + mod(3 * t, H - side);
  c = 1 + mod(5 * t, W - side);
  frame(r:r + side - 1, c:c + side - 1, :) = 220;
  video(:, :, :, t) = uint8(frame);
end
end
