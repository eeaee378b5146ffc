%CORVANE  Advance a per-pixel background model by one colour frame (MEX function).
%
%   model = Corvane(model, frame, nhood)
%
%   Scores the frame against every pixel's small self-organising map of
%   neurons, writes the probability that each pixel is foreground to
%   model.imMask (H x W), smooths it over the 8-connected neighbourhood by the
%   learned correlations between pixels, and adapts the model to the frame.
%   Call it once per frame and pass the returned model back with the next one.
%   The model passed in is not changed; the result is an updated copy. Fields
%   other than those below are copied along unchanged.
%
%   Build the first model with corvaneInitModel (from the leading frames),
%   the matrix of each frame with corvaneNeighborhood(..., 'frame', t) and
%   the binary mask with corvaneMask. This file holds only this help: the
%   function itself is the compiled Corvane.oct or Corvane.mex (GNU Octave),
%   Corvane.mexa64 (MATLAB on Linux) or Corvane.mexw64 / Corvane.mexw32
%   (MATLAB on Windows); see docs/matlab.md for building it.
%
%   Inputs
%     model  struct (element 1 is used) with the fields below, all real, full,
%            non-empty doubles. Shapes do not matter, only element counts and
%            column-major element order.
%     frame  H x W x 3 doubles, colour channels in 0..255 (convert uint8
%            images with double(), do not rescale them to 0..1).
%     nhood  K x K doubles; column w holds the learning rate of every neuron
%            when neuron w wins (corvaneNeighborhood builds one).
%
%   Sizes: H = NumImageRows, W = NumImageColumns, N = H*W pixels,
%   K = NumMapRows*NumMapColumns neurons per pixel. Pixels p are numbered in
%   column-major order, neurons j = 1..K per pixel (stored 0-based in
%   NeuroWin). Variances are per colour channel, in squared colour units.
%
%   Field            Elements  Meaning
%   Mu               3*K*N     neuron means, colour units (0..255); natural
%                              shape 3 x K x N: Mu(ch, j, p)
%   Sigma2           K*N       neuron variances, K x N
%   imMask           N         output: foreground probability of the frame,
%                              H x W, 0 and above (in practice 0..1)
%   Pi               N         foreground prior of each pixel, H x W
%   NeuroWin         N         output: 0-based index of each pixel's winning
%                              neuron, H x W
%   Var              N         variance of the foreground indicator, H x W
%   Cov              4*N       covariance of the foreground indicator with the
%                              neighbour above, above-left, left and
%                              below-left (rows 1..4 of a 4 x N array); 0
%                              where that neighbour does not exist
%   MaximumVariance  N         cap on the variances of each pixel's neurons,
%                              H x W, squared colour units
%   MinimumVariance  1         floor added to a neuron's variance inside the
%                              density, squared colour units
%   StepSize         1         learning rate of Pi, Var and Cov per frame, 0..1
%   CurrentFrame     1         frame counter, increased by 1 per call
%   NumMapRows       1         map rows (truncated to an integer, at least 1)
%   NumMapColumns    1         map columns
%   NumImageRows     1         image rows H
%   NumImageColumns  1         image columns W
%
%   NaN and infinite values inside the arrays are not rejected; they pass
%   through the arithmetic into the result.
%
%   Threads: the update runs on as many threads as the environment variable
%   CORVANE_THREADS says, read at every call (setenv('CORVANE_THREADS', '2')
%   takes effect at the next call); unset, empty or 0 means every hardware
%   thread. Every count gives the same bits. The threads live for one call.
%
%   Errors (identifier: cause). Nothing is computed and the caller's data are
%   untouched when one is raised.
%     Corvane:inputCount        not exactly 3 inputs
%     Corvane:outputCount       more than 1 output requested
%     Corvane:modelNotStruct    the model is not a struct
%     Corvane:modelEmpty        the model is an empty struct array
%     Corvane:missingField      a field is missing (names are case-sensitive)
%     Corvane:notDouble         a field, the frame or nhood is not double
%     Corvane:complex           ... is complex
%     Corvane:sparse            ... is sparse
%     Corvane:empty             ... is empty
%     Corvane:sizeNotFinite     a size field is NaN or infinite
%     Corvane:sizeOutOfRange    a size field is outside the 32-bit integer range
%     Corvane:sizeBelowOne      a size field truncates to less than 1
%     Corvane:sizeOverflow      H*W or K does not fit a 32-bit integer
%     Corvane:fieldTooShort     a field holds fewer elements than listed above
%     Corvane:fieldTooLong      an array field holds more elements than listed
%                               above (its sizes disagree with the arrays)
%     Corvane:frameTooShort     the frame holds fewer than 3*N elements
%     Corvane:matrixTooShort    nhood holds fewer than K*K elements
%     Corvane:scratchTooLarge   the per-call scratch (40*N bytes) cannot be
%                               addressed (32-bit hosts only)
%     Corvane:badThreads        CORVANE_THREADS is not a whole number 0..256
%     Corvane:outOfMemory       the per-call scratch could not be allocated
%     Corvane:copyNotIndependent  the host's copy of the model shared data
%                               with the caller's arrays (never expected; the
%                               update is refused rather than run)
%
%   Example: the corvane command's loop, every frame segmented from frame 1
%     frames = ...;                                % H x W x 3 x T, 0..255
%     params = corvaneParameters();                % or name/value pairs
%     model = corvaneInitModel(frames, params);    % first initialFrames frames
%     for t = 1:size(frames, 4)
%       nhood = corvaneNeighborhood(params, 'frame', t);
%       model = Corvane(model, double(frames(:, :, :, t)), nhood);
%       foreground = corvaneMask(model.imMask, params);   % H x W logical
%     end
%
%   See also corvaneInitModel, corvaneNeighborhood, corvaneMask,
%   corvaneParameters, corvaneDemo.
