classdef CorvaneDetector < handle
%CORVANEDETECTOR  Foreground detector that keeps its background model between frames.
%
%   det = CorvaneDetector()
%   det = CorvaneDetector('Name', value, ...)
%   det = CorvaneDetector(params, 'Name', value, ...)   params from corvaneParameters
%   det = CorvaneDetector(frames, ...)
%   det = CorvaneDetector(model, ...)
%
%   mask = det.step(frame)                 % or step(det, frame)
%   mask = det.step(frame, 'LearnMask', m) % m: H x W, true = do not learn here
%   [mask, probability] = det.step(frame)
%   reset(det)
%   model = det.Model
%
%   A CorvaneDetector segments a video frame by frame as the corvane command
%   does, with the same parameters, defaults and results, bit for bit: the
%   masks of step over a video's frames, from the first, are the masks
%   corvane segment writes for it. Its model lives in C++ memory (in the MEX
%   file CorvaneDetectorMex) and stays there between frames: a step passes
%   the frame in and the mask out, and nothing of the model crosses into
%   MATLAB. It is the fast way to segment a video; the struct call
%   model = Corvane(model, frame, nhood) (corvaneStep) is the same update
%   with the model in your hands.
%
%   CorvaneDetector() or CorvaneDetector('Name', value, ...) makes a detector
%   whose image size comes with the first step. Nothing is read ahead: the
%   model starts from the first initialFrames frames as they are stepped.
%
%   CorvaneDetector(frames, ...) makes one that has already learnt from
%   FRAMES, an H x W x 3 (x T) array, or grey H x W (x 1 x T): the first
%   frames of the video, stepped in order (their masks are not kept). The
%   next step is frame T + 1.
%
%   CorvaneDetector(model, ...) continues a model struct as Corvane takes it
%   (from corvaneStep, a Corvane call or another detector's Model): the
%   next frame is frame model.CurrentFrame + 1. The map shape comes from the
%   model unless mapRows and mapColumns are given (they must then agree); its
%   MinimumVariance and StepSize are kept, and the start is not run again.
%
%   Frames are H x W x 3 arrays, channels R, G, B, or grey H x W arrays
%   (scored as the colour with three equal channels), of class
%     uint8           colours 0..255, as images and videos are read
%     uint16          0..65535, read as round(x / 257) as the corvane command
%                     reads 16-bit images (x * 257 is x, 65535 is 255)
%     single, double  colours 0..255 as well. A floating frame scaled to 0..1
%                     matches the background everywhere and gives empty
%                     masks: the detector warns once (Corvane:frameRange).
%   Every frame must have the size of the first.
%
%   Options, as name/value pairs (names in any case), after an optional
%   parameter struct from corvaneParameters:
%     every parameter of corvaneParameters, with the same default and the
%       same allowed values (help corvaneParameters)
%     Threads    threads the update may use; 0 (the default) uses every
%                hardware thread. Every count gives the same bits.
%
%   Outputs of step:
%     mask         H x W logical, true where the pixel is foreground
%                  (imMask > maskThreshold, then the medianSize median filter)
%     probability  H x W double, the smoothed foreground probability (imMask)
%
%   Properties (read only):
%     ImageSize        [H W] ([0 0] before the first frame)
%     Parameters       every parameter, as corvaneParameters returns them
%     Threads          the Threads option
%     FramesProcessed  frames stepped (or learnt from) since the start or the
%                      last reset; a detector made from a model starts at 0
%                      (the model's own frame number, which goes on from the
%                      saved one, is det.Model.CurrentFrame)
%     Model            a copy of the model as it stands, the struct Corvane
%                      takes ([] before the first frame); a new copy each time
%
%   step(det, frame, 'LearnMask', m) does not let the frame's colour enter
%   the model where M (H x W, logical or numeric) is not 0: those pixels'
%   neurons (Mu), their variances (Sigma2) and their prior (Pi) stay as they
%   were, and a pixel under the mask is never absorbed into the background
%   however long it stands still; the mask is computed as usual. A person a
%   detector has found standing still stays foreground. During the start
%   (the first initialFrames frames) the model is built from the frames
%   themselves, masked or not.
%
%   A model saved to a MAT-file (corvane segment --save-model, Python's
%   sub.save, or save(file, 'model')) comes back with load(file): the struct
%   model then holds the model's fields, what the detector keeps between
%   frames (FlickerVariance, FlickerStartCap, PreviousFrame, StillFrames,
%   LastDecisions, BlinkRate) and Parameters, so that
%     s = load(file); det = CorvaneDetector(s.model, s.model.Parameters);
%   goes on exactly as the saved detector would have.
%
%   reset(det) starts over: a detector made from a model goes back to that
%   model; any other forgets every frame, those given when it was made too.
%   Clearing the last variable that holds the detector, or delete(det),
%   frees its model.
%
%   Errors (identifier: cause); the detector is unchanged after each:
%     Corvane:badParameter    an unknown option, a value out of range, not
%                             name/value pairs
%     Corvane:frameClass      a frame neither uint8, uint16, single nor double
%     Corvane:frameChannels   a frame neither H x W x 3 nor H x W (four
%                             channels included: pass frame(:, :, 1:3));
%                             frames given when it is made: not H x W x 3 x T
%                             nor H x W x 1 x T
%     Corvane:frameSize       a frame of another size than the first
%     Corvane:frameNotFinite  NaN or infinite values in a frame
%     Corvane:complex, Corvane:sparse   such a frame
%     Corvane:missingField, Corvane:notDouble, Corvane:fieldTooShort, ...
%                             a model struct that Corvane would refuse
%     Corvane:badModel        a model whose map shape differs from mapRows and
%                             mapColumns, or whose CurrentFrame is not a
%                             whole number from 0
%     Corvane:deletedHandle   the detector was deleted
%     Corvane:staleHandle     the detector was made before CorvaneDetectorMex
%                             was unloaded (clear all, clear functions; in
%                             MATLAB clear mex too, which Octave takes for
%                             a variable's name); its model is gone
%     Corvane:badHandle       not a detector's id (for instance a detector
%                             saved to a file and loaded again)
%     Corvane:outOfMemory     not enough memory for the model
%
%   Example:
%     video = ...;                                   % H x W x 3 x T uint8
%     det = CorvaneDetector('Threads', 2);
%     for t = 1:size(video, 4)
%       mask = det.step(video(:, :, :, t));          % H x W logical
%     end
%     model = det.Model;                             % go on with Corvane
%
%   See also Corvane, corvaneStep, corvaneParameters, corvaneMask.

  properties (SetAccess = private)
    Parameters = struct()
    Threads = 0
  end

  properties (Dependent, SetAccess = private)
    ImageSize
    FramesProcessed
    Model
  end

  % The detector's id in CorvaneDetectorMex. Readable (though hidden) so
  % that an object whose class was cleared from memory (clear functions)
  % still reaches the MEX file, which then says what became of its model.
  properties (SetAccess = private, Hidden = true)
    Id = uint64(0)
  end

  methods
    function obj = CorvaneDetector(varargin)
      obj.Id = CorvaneDetectorMex('new', varargin{:});
      info = CorvaneDetectorMex('info', obj.Id);
      obj.Parameters = info.Parameters;
      obj.Threads = info.Threads;
    end

    function [mask, probability] = step(obj, frame, varargin)
      %STEP  Segment the next frame: mask = step(det, frame), [mask, probability] = ...
      %   step(det, frame, 'LearnMask', m): where m (H x W, logical or numeric)
      %   is not 0, the frame's colour is not learnt.
      if nargin < 2
        error('Corvane:inputCount', 'step needs the frame: mask = det.step(frame)');
      end
      args = {obj.Id, frame};
      if ~isempty(varargin)
        if numel(varargin) ~= 2 || ~ischar(varargin{1}) || ~strcmpi(varargin{1}, 'LearnMask')
          error('Corvane:badParameter', ...
                'step takes the frame and optionally ''LearnMask'', m: det.step(frame, ''LearnMask'', m)');
        end
        args{end + 1} = varargin{2};
      end
      if nargout > 1
        [mask, probability] = CorvaneDetectorMex('step', args{:});
      else
        mask = CorvaneDetectorMex('step', args{:});
      end
    end

    function reset(obj)
      %RESET  Start over: back to the model it was made from, or to no frame at all.
      CorvaneDetectorMex('reset', obj.Id);
    end

    function value = get.ImageSize(obj)
      info = CorvaneDetectorMex('info', obj.Id);
      value = info.ImageSize;
    end

    function value = get.FramesProcessed(obj)
      info = CorvaneDetectorMex('info', obj.Id);
      value = info.FramesProcessed;
    end

    function value = get.Model(obj)
      value = CorvaneDetectorMex('model', obj.Id);
    end

    function delete(obj)
      % Frees the model. Ids are never reused, so a second call (Octave
      % makes one when a deleted object goes away) or one for a detector
      % from before the MEX file was unloaded frees nothing; the id stays,
      % so that a later step says the detector was deleted.
      if obj.Id ~= 0
        CorvaneDetectorMex('delete', obj.Id);
      end
    end
  end
end
