function testDetectorErrors()
% Every misuse of CorvaneDetector is a Corvane: error, never a crash, and
% leaves the detector as it was: after each refused step the next good step
% gives the mask a detector that never saw the bad call gives.
rand('state', 8); %#ok<RAND>
H = 10; W = 12;
video = uint8(40 + 150 * rand(H, W, 3, 6));
frame = video(:, :, :, 1);
det = CorvaneDetector(video);
twin = CorvaneDetector(video);
count = 0;

% Frames.
bad = {
  'Corvane:frameClass', 'an int16 frame', int16(frame);
  'Corvane:frameClass', 'a logical frame', frame > 100;
  'Corvane:frameClass', 'a cell', {frame};
  'Corvane:frameClass', 'a struct', struct('frame', frame);
  'Corvane:frameClass', 'text', 'frame';
  'Corvane:complex', 'a complex frame', complex(double(frame), 1);
  'Corvane:sparse', 'a sparse frame', sparse(double(frame(:, :, 1)));
  'Corvane:frameChannels', 'two channels', frame(:, :, 1:2);
  'Corvane:frameChannels', 'four channels', cat(3, frame, frame(:, :, 1));
  'Corvane:frameClass', 'a uint32 frame', uint32(frame);
  'Corvane:frameChannels', 'a stack of frames', video(:, :, :, 1:2);
  'Corvane:frameSize', 'a smaller frame', frame(1:end - 1, :, :);
  'Corvane:frameSize', 'a transposed frame', permute(frame, [2 1 3]);
  'Corvane:frameSize', 'an empty frame', zeros(0, W, 3, 'uint8');
  'Corvane:frameNotFinite', 'a NaN', withValue(double(frame), NaN);
  'Corvane:frameNotFinite', 'an infinity', withValue(single(frame), -Inf)};
for i = 1:size(bad, 1)
  expectError(@() det.step(bad{i, 3}), bad{i, 1}, bad{i, 2});
  expectSame(det, twin, video, bad{i, 2});
  count = count + 1;
end
expectError(@() det.step(), 'Corvane:inputCount', 'step without a frame');

% Options.
options = {
  'an unknown name', {'learnRate', 0.1};
  'a value out of range', {'learningRate', 2};
  'an even median', {'medianSize', 4};
  'a map too large', {'mapRows', 1000};
  'a broken rule between two', {'maximumVarianceLimit', 10};
  'a name without value', {'learningRate'};
  'a number for a name', {3, 0.1};
  'text for a value', {'stepSize', '0.1'};
  'two values', {'stepSize', [0.1 0.2]};
  'a complex value', {'stepSize', 0.1i};
  'NaN', {'stepSize', NaN};
  'negative threads', {'Threads', -1};
  'fractional threads', {'Threads', 1.5};
  'too many threads', {'Threads', 5000};
  'a struct array', {repmat(corvaneParameters(), 1, 2)}};
for i = 1:size(options, 1)
  expectError(@() CorvaneDetector(video, options{i, 2}{:}), 'Corvane:badParameter', options{i, 1});
  count = count + 1;
end
% The error names what was wrong.
err = expectError(@() CorvaneDetector(video, 'medianSize', 4), 'Corvane:badParameter', 'median');
expectMention(err, 'medianSize');
err = expectError(@() CorvaneDetector(video, 'learnRate', 1), 'Corvane:badParameter', 'unknown');
expectMention(err, 'learnRate');

% Starts.
model = det.Model;
starts = {
  'Corvane:frameClass', 'a cell', {{video}};
  'Corvane:frameClass', 'a logical video', {video > 100};
  'Corvane:frameChannels', 'a grey video', {squeeze(video(:, :, 1, :))};
  'Corvane:frameNotFinite', 'a NaN in a leading frame', {withValue(double(video), NaN)};
  'Corvane:missingField', 'a model without Mu', {rmfield(model, 'Mu')};
  'Corvane:notDouble', 'a model with single Pi', {setfield(model, 'Pi', single(model.Pi))};
  'Corvane:fieldTooShort', 'a model with Cov short', {setfield(model, 'Cov', model.Cov(1:end - 1))};
  'Corvane:fieldTooLong', 'a model with Sigma2 long', {setfield(model, 'Sigma2', [model.Sigma2(:); 1])};
  'Corvane:fieldTooLong', 'a model whose map is smaller than its arrays', {setfield(setfield(model, 'NumMapRows', 1), 'NumMapColumns', 1)};
  'Corvane:sizeBelowOne', 'a model of no rows', {setfield(model, 'NumImageRows', 0)};
  'Corvane:badModel', 'a model counting half frames', {setfield(model, 'CurrentFrame', 2.5)};
  'Corvane:modelEmpty', 'an empty struct array', {model([])}};
for i = 1:size(starts, 1)
  expectError(@() CorvaneDetector(starts{i, 3}{:}), starts{i, 1}, starts{i, 2});
  count = count + 1;
end

% The map shape disagreeing with the arrays names the first array it misfits.
err = expectError(@() CorvaneDetector(setfield(model, 'NumMapColumns', 1)), 'Corvane:fieldTooLong', 'a narrower map');
expectMention(err, '"Mu"');
count = count + 1;

% A detector made without frames takes its size from its first good frame.
% Its errors name the step's frame, not the leading frames a detector may be
% made from.
unstarted = CorvaneDetector();
err = expectError(@() unstarted.step(frame(:, :, 1:2)), 'Corvane:frameChannels', 'a two-channel first frame');
expectStepFrameMessage(err, 'the frame is 10 x 12 x 2; it must be H x W x 3 (channels R, G, B) or H x W (grey)');
err = expectError(@() unstarted.step(video(:, :, :, 1:2)), 'Corvane:frameChannels', 'a stack as first frame');
expectStepFrameMessage(err, 'the frame is 10 x 12 x 3 x 2; it must be H x W x 3');
err = expectError(@() unstarted.step(zeros(0, W, 3)), 'Corvane:empty', 'an empty first frame');
expectStepFrameMessage(err, 'the frame is 0 x 12 x 3');
expectError(@() unstarted.step(int8(frame)), 'Corvane:frameClass', 'an int8 first frame');
expectError(@() unstarted.step(withValue(double(frame), NaN)), 'Corvane:frameNotFinite', 'a NaN in the first frame');
if ~isequal(unstarted.ImageSize, [0 0]) || unstarted.FramesProcessed ~= 0
  error('test:changed', 'a refused first frame started the detector');
end
unstarted.step(frame(1:5, :, :));
expectError(@() unstarted.step(frame), 'Corvane:frameSize', 'a frame larger than the first');
count = count + 7;

% The MEX file itself, called other than by the class.
expectError(@() CorvaneDetectorMex(), 'Corvane:badCommand', 'no command');
expectError(@() CorvaneDetectorMex('jump'), 'Corvane:badCommand', 'an unknown command');
expectError(@() CorvaneDetectorMex('step', 17, frame), 'Corvane:badHandle', 'a double id');
expectError(@() CorvaneDetectorMex('step', uint64(17), frame), 'Corvane:badHandle', 'a made-up id');
expectError(@() CorvaneDetectorMex('step', det.Id + 1000, frame), 'Corvane:badHandle', 'an id not yet handed out');
expectError(@() CorvaneDetectorMex('step', det.Id), 'Corvane:inputCount', 'step without a frame');
expectError(@() CorvaneDetectorMex('model', [det.Id det.Id]), 'Corvane:badHandle', 'two ids');
CorvaneDetectorMex('delete', uint64(12345));  % unknown ids are ignored
expectSame(det, twin, video, 'the direct calls');

% A floating frame scaled to 0..1 warns once per detector, with its id.
lastwarn('');
scaled = CorvaneDetector(double(video) / 255);
[message, id] = lastwarn();
if ~strcmp(id, 'Corvane:frameRange') || isempty(strfind(message, '0..255'))
  error('test:warning', 'no Corvane:frameRange warning for frames in 0..1 (got %s)', id);
end
lastwarn('');
scaled.step(double(frame) / 255);
[~, id] = lastwarn();
if ~isempty(id)
  error('test:warning', 'the warning came twice for one detector');
end
other = CorvaneDetector(video);
other.step(single(frame) / 255);
[~, id] = lastwarn();
if ~strcmp(id, 'Corvane:frameRange')
  error('test:warning', 'a second detector gave no warning of its own for a frame in 0..1');
end
lastwarn('');
dark = CorvaneDetector(video);
dark.step(zeros(H, W, 3));  % a black frame is no reason to warn
[~, id] = lastwarn();
if ~isempty(id)
  error('test:warning', 'a black frame raised %s', id);
end
fprintf('%d malformed calls rejected with their identifiers\n', count);
end

function x = withValue(x, value)
x(2) = value;
end

function expectSame(det, twin, video, what)
% One good step on both: the same mask, so the refused call changed nothing.
t = det.FramesProcessed + 1;
frame = video(:, :, :, 1 + mod(t, size(video, 4)));
if ~isequal(det.step(frame), twin.step(frame)) || det.FramesProcessed ~= twin.FramesProcessed
  error('test:changed', 'after %s the detector differs from one that never saw it', what);
end
end

function expectStepFrameMessage(err, text)
if isempty(strfind(err.message, text)) || ~isempty(strfind(err.message, 'leading'))
  error('test:message', 'a step''s error says ''%s'', not ''%s''', err.message, text);
end
end
