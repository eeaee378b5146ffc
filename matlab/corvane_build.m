function [mexfile, detectorfile] = corvane_build(outdir)
%CORVANE_BUILD Compile the Corvane MEX files from source with MATLAB's or Octave's mex.
%   CORVANE_BUILD builds Corvane.<mexext>, the struct call, and
%   CorvaneDetectorMex.<mexext>, which the detector object CorvaneDetector
%   runs on, into the current folder; CORVANE_BUILD(OUTDIR) builds them into
%   OUTDIR. [MEXFILE, DETECTORFILE] = CORVANE_BUILD(...) returns their full
%   paths.
%
%   Use it when no prebuilt file fits your platform (the releases carry
%   Corvane.mexw64 and Corvane.mexw32 for Windows). It needs a C++17 compiler
%   set up for mex (run "mex -setup C++" in MATLAB once).
%
%   The update must give the same bits on every platform, so the core is
%   compiled without floating-point contraction (no fused multiply-add) and
%   without fast-math. Put the output folder on the path (with this folder,
%   the toolbox), then call
%       model = Corvane(model, frame, nhood);
%       det = CorvaneDetector(); mask = det.step(frame);

if nargin < 1 || isempty(outdir)
    outdir = pwd;
end
if ~exist(outdir, 'dir')
    mkdir(outdir);
end
root = fileparts(fileparts(mfilename('fullpath')));
core = fullfile(root, 'core');
gateway = fullfile(root, 'mex');
math = fullfile(core, 'math');
listing = dir(fullfile(core, '*.cpp'));
% The update's worker threads: the Win32 API on Windows, pthreads elsewhere.
if ispc
    notHere = 'WorkerThreadsPosix.cpp';
    libraries = {};
else
    notHere = 'WorkerThreadsWindows.cpp';
    libraries = {'-lpthread'};
end
% The update's column kernels: the scalar ones everywhere, SSE2 on x86 (the
% AVX2 and AVX-512 ones need per-file compiler flags; the CMake build has
% them, and every path gives the same bits).
vectorKernels = {'SweepKernelsSse2.cpp', 'SweepKernelsAvx2.cpp', 'SweepKernelsAvx512.cpp'};
listing = listing(~ismember({listing.name}, [{notHere}, vectorKernels]));
% The correctly rounded exp and log: scalar code everywhere, the SSE2 block
% path on x86 (the AVX2 path needs a per-file compiler flag; the CMake build
% has it, and both give the same bits).
mathSources = {'RoundedScalar.cpp', 'RoundedExact.cpp', 'RoundedDispatch.cpp'};
defines = {};
arch = computer('arch');
if ~isempty(regexp(arch, '^(x86_64|i[3-6]86|win64|win32|glnxa64|maci64)', 'once'))
    mathSources{end + 1} = 'RoundedBlockSse2.cpp';
    listing(end + 1) = dir(fullfile(core, 'SweepKernelsSse2.cpp'));
    defines = {'-DCORVANE_ROUNDED_SSE2', '-DCORVANE_SWEEP_SSE2'};
end
coreSources = [cellfun(@(name) fullfile(core, name), {listing.name}, 'UniformOutput', false), ...
               cellfun(@(name) fullfile(math, name), mathSources, 'UniformOutput', false)];
shared = cellfun(@(name) fullfile(gateway, name), ...
                 {'GatewayModel.cpp', 'GatewayThreads.cpp', 'FreshMemory.cpp'}, 'UniformOutput', false);
% The struct call: the gateway over the core.
sources = [{fullfile(gateway, 'CorvaneGateway.cpp')}, shared, coreSources];
% The detector object's MEX file: the per-video Detector of setup/ with its
% ids, options and frame checks.
detector = fullfile(gateway, 'detector');
setup = fullfile(root, 'setup');
detectorSources = [cellfun(@(name) fullfile(detector, name), ...
                           {'CorvaneDetectorMex.cpp', 'DetectorArguments.cpp', ...
                            'DetectorStart.cpp', 'DetectorStep.cpp', 'DetectorExport.cpp', ...
                            'DetectorLearnMask.cpp', ...
                            'DetectorRegistry.cpp', 'DetectorOptions.cpp', 'FrameInput.cpp'}, ...
                           'UniformOutput', false), ...
                   cellfun(@(name) fullfile(setup, name), ...
                           {'ModelSetup.cpp', 'ParameterTable.cpp', 'FrameStream.cpp', ...
                            'MaskDecision.cpp', 'Detector.cpp', 'FrameLayout.cpp'}, 'UniformOutput', false), ...
                   shared, coreSources];
includes = {['-I', core], ['-I', fullfile(core, 'include')], ['-I', math], ['-I', gateway], ['-I', detector], ['-I', setup]};
output = fullfile(outdir, 'Corvane');
detectorOutput = fullfile(outdir, 'CorvaneDetectorMex');

if exist('OCTAVE_VERSION', 'builtin')
    % Octave's mex (mkoctfile) takes extra compiler flags from CXXFLAGS.
    flags = '-std=c++17 -ffp-contract=off -fno-fast-math -O2';
    saved = getenv('CXXFLAGS');
    setenv('CXXFLAGS', [strtrim(mkoctfile('-p', 'CXXFLAGS')), ' ', flags]);
    cleanup = onCleanup(@() setenv('CXXFLAGS', saved));
    mex(includes{:}, defines{:}, '-o', output, sources{:}, libraries{:});
    mex(includes{:}, defines{:}, '-o', detectorOutput, detectorSources{:}, libraries{:});
    mexfile = [output, '.mex'];
    detectorfile = [detectorOutput, '.mex'];
else
    compiler = mex.getCompilerConfigurations('C++', 'Selected');
    if isempty(compiler)
        error('Corvane:noCompiler', 'no C++ compiler is set up for mex; run "mex -setup C++"');
    end
    if strncmpi(compiler.ShortName, 'MSVC', 4)
        % Visual C++: /fp:precise rounds every operation as written; it fuses
        % a*b+c into one instruction only with /fp:contract or /arch:AVX2,
        % neither of which is given.
        flags = 'COMPFLAGS=$COMPFLAGS /std:c++17 /fp:precise';
    else
        % GCC, MinGW-w64 and Clang.
        flags = 'CXXFLAGS=$CXXFLAGS -std=c++17 -ffp-contract=off -fno-fast-math';
    end
    mex('-R2017b', flags, includes{:}, defines{:}, '-output', output, sources{:}, libraries{:});
    mex('-R2017b', flags, includes{:}, defines{:}, '-output', detectorOutput, ...
        detectorSources{:}, libraries{:});
    mexfile = [output, '.', mexext];
    detectorfile = [detectorOutput, '.', mexext];
end
fprintf('built %s and %s\n', mexfile, detectorfile);
end
