function check_corvane_build(outdir)
% Builds Corvane with matlab/corvane_build.m into OUTDIR and calls it: one
% frame of a one-pixel, one-neuron model whose result is known exactly, an
% extra field that must survive, and a malformed model that must raise a
% Corvane: error; and the detector object on the CorvaneDetectorMex it
% built, which must give corvaneStep's masks (the struct call it built, with
% what the command does between frames) bit for bit. Prints "CORVANE BUILD
% SCRIPT OK" when all of it holds.
[mexfile, detectorfile] = corvane_build(outdir);
assert(exist(mexfile, 'file') == 3 || exist(mexfile, 'file') == 2, 'no MEX file at %s', mexfile);
assert(exist(detectorfile, 'file') == 3 || exist(detectorfile, 'file') == 2, ...
       'no detector MEX file at %s', detectorfile);
addpath(outdir);

% The neuron lies on the pixel's colour with effective variance 1, so its
% density is exp(-1.5*log(2*pi)) and, with prior 0.5, the raw foreground
% probability is f / (g/2 + f); a lone pixel has no neighbours, so the
% smoothed value is that divided by 9.
model = struct('Mu', [10; 20; 30], 'Sigma2', 0.75, 'imMask', 0, 'Pi', 0.5, ...
               'NeuroWin', 0, 'Var', 0.25, 'Cov', zeros(4, 1), 'MaximumVariance', 1e6, ...
               'NumMapRows', 1, 'NumMapColumns', 1, 'NumImageRows', 1, 'NumImageColumns', 1, ...
               'MinimumVariance', 0.25, 'StepSize', 0.1, 'CurrentFrame', 4, ...
               'Notes', 'kept as it is');
frame = reshape([10 20 30], 1, 1, 3);
before = model;
out = Corvane(model, frame, 1);

g = exp(-2.756815599614018 - 1.5 * log(1));
f = 0.5 * 6.030862941101084e-8;
expected = (f / (g * (1 - 0.5) + f)) / 9;
assert(isequal(model, before), 'the input struct changed');
assert(out.CurrentFrame == 5, 'CurrentFrame is %g, not 5', out.CurrentFrame);
assert(out.imMask == expected, 'imMask %.17g, expected %.17g', out.imMask, expected);
assert(out.NeuroWin == 0);
assert(isequal(out.Notes, 'kept as it is'), 'the extra field changed');
assert(isequal(out.Cov, zeros(4, 1)), 'a lone pixel has no covariances');

broken = rmfield(model, 'Var');
try
    Corvane(broken, frame, 1);
    error('check:noError', 'a model without Var was accepted');
catch err
    assert(strcmp(err.identifier, 'Corvane:missingField'), 'error %s: %s', err.identifier, err.message);
end
% The detector object, as the toolbox uses it, on the file just built.
assert(strncmp(which('CorvaneDetectorMex'), outdir, numel(outdir)), ...
       'CorvaneDetectorMex comes from %s, not from %s', which('CorvaneDetectorMex'), outdir);
rand('state', 2); %#ok<RAND>
H = 8; W = 10;
det = CorvaneDetector('Threads', 1);
state = [];
found = 0;
for t = 1:14
  frame = uint8(80 + 20 * rand(H, W, 3));
  if t > 9
    frame(2:5, t - 8:t - 5, :) = 240;
  end
  mask = det.step(frame);
  if t == 1
    [state, expected] = corvaneStep(state, double(frame), corvaneParameters());
  else
    [state, expected] = corvaneStep(state, double(frame));
  end
  assert(isequal(mask, expected), 'frame %d: the built detector differs from corvaneStep', t);
  found = found + sum(mask(:));
end
assert(found > 0, 'the built detector found nothing of the square');
assert(det.FramesProcessed == 14);
printf('CORVANE BUILD SCRIPT OK: %s, %s\n', mexfile, detectorfile);
end
