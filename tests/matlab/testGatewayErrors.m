function testGatewayErrors()
% Every kind of malformed call raises its Corvane: identifier, names what is
% wrong, and leaves the caller's model and frame exactly as they were.
rand('state', 3); %#ok<RAND>
[model, frame, nhood] = smallModel(3, 4, 2, 2);
names = modelFieldNames();
count = 0;

% Argument and output counts.
check('Corvane:inputCount', 'two inputs', model, @() Corvane(model, frame));
check('Corvane:inputCount', 'four inputs', model, @() Corvane(model, frame, nhood, 1));
check('Corvane:inputCount', 'no input', model, @() Corvane());
check('Corvane:outputCount', 'two outputs', model, @() twoOutputs(model, frame, nhood));

% The model itself.
check('Corvane:modelNotStruct', 'a number', model, @() Corvane(1, frame, nhood));
check('Corvane:modelNotStruct', 'a cell', model, @() Corvane({model}, frame, nhood));
check('Corvane:modelEmpty', 'an empty struct array', model, @() Corvane(model([]), frame, nhood));

% Each field missing in turn, and a name in the wrong case.
for i = 1:numel(names)
  bad = rmfield(model, names{i});
  err = check('Corvane:missingField', ['without ' names{i}], bad, @() Corvane(bad, frame, nhood));
  expectMention(err, [char(34) names{i} char(34)]);
end
bad = rmfield(model, 'Mu');
bad.mu = model.Mu;
check('Corvane:missingField', 'mu for Mu', bad, @() Corvane(bad, frame, nhood));

% Classes and storage of fields, frame and matrix.
kinds = {
  'Corvane:notDouble', 'Pi', single(model.Pi);
  'Corvane:notDouble', 'NumMapRows', int32(2);
  'Corvane:notDouble', 'Mu', uint8(model.Mu);
  'Corvane:notDouble', 'imMask', model.imMask > 0.5;
  'Corvane:notDouble', 'Var', 'text';
  'Corvane:notDouble', 'Cov', num2cell(model.Cov);
  'Corvane:notDouble', 'StepSize', struct('value', 0.1);
  'Corvane:complex', 'Mu', complex(model.Mu, 1);
  'Corvane:complex', 'CurrentFrame', 1 + 2i;
  'Corvane:sparse', 'Pi', sparse(model.Pi);
  'Corvane:empty', 'Var', [];
  'Corvane:empty', 'StepSize', zeros(1, 0);
  'Corvane:sizeNotFinite', 'NumImageRows', NaN;
  'Corvane:sizeNotFinite', 'NumImageColumns', Inf;
  'Corvane:sizeNotFinite', 'NumMapColumns', -Inf;
  'Corvane:sizeOutOfRange', 'NumImageColumns', 3e9;
  'Corvane:sizeOutOfRange', 'NumMapRows', -3e9;
  'Corvane:sizeBelowOne', 'NumMapRows', 0.9;
  'Corvane:sizeBelowOne', 'NumImageRows', 0;
  'Corvane:sizeBelowOne', 'NumMapColumns', -1;
  'Corvane:fieldTooShort', 'Mu', model.Mu(1:end - 1);
  'Corvane:fieldTooShort', 'Sigma2', model.Sigma2(1:end - 1);
  'Corvane:fieldTooShort', 'Cov', model.Cov(1:end - 1);
  'Corvane:fieldTooShort', 'imMask', model.imMask(1:end - 1);
  'Corvane:fieldTooShort', 'MaximumVariance', 400};
for i = 1:size(kinds, 1)
  bad = model;
  bad.(kinds{i, 2}) = kinds{i, 3};
  what = sprintf('%s as %s', kinds{i, 2}, class(kinds{i, 3}));
  err = check(kinds{i, 1}, what, bad, @() Corvane(bad, frame, nhood));
  expectMention(err, kinds{i, 2});
end

% Sizes whose product overflows 32 bits.
bad = model;
bad.NumImageRows = 50000;
bad.NumImageColumns = 50000;
check('Corvane:sizeOverflow', 'a 50000 x 50000 image', bad, @() Corvane(bad, frame, nhood));
bad = model;
bad.NumMapRows = 65536;
bad.NumMapColumns = 32768;
check('Corvane:sizeOverflow', 'a 65536 x 32768 map', bad, @() Corvane(bad, frame, nhood));

% Frame and matrix.
check('Corvane:notDouble', 'a uint8 frame', model, @() Corvane(model, uint8(frame), nhood));
check('Corvane:notDouble', 'a single matrix', model, @() Corvane(model, frame, single(nhood)));
check('Corvane:complex', 'a complex frame', model, @() Corvane(model, complex(frame, 1), nhood));
check('Corvane:sparse', 'a sparse matrix', model, @() Corvane(model, frame, sparse(nhood)));
check('Corvane:empty', 'an empty frame', model, @() Corvane(model, [], nhood));
check('Corvane:empty', 'an empty matrix', model, @() Corvane(model, frame, zeros(4, 0)));
check('Corvane:frameTooShort', 'two channels', model, @() Corvane(model, frame(:, :, 1:2), nhood));
check('Corvane:frameTooShort', 'one element short', model, ...
      @() Corvane(model, frame(1:end - 1), nhood));
check('Corvane:matrixTooShort', 'one element short', model, ...
      @() Corvane(model, frame, nhood(1:end - 1)));

% After all of that, a valid call still works.
updated = Corvane(model, frame, nhood);
expectBits(updated.CurrentFrame, model.CurrentFrame + 1, 'CurrentFrame after the failed calls');
fprintf('%d malformed calls rejected with their identifiers\n', count);

  function err = check(identifier, what, given, call)
    % The error, and the caller's struct and frame kept bit for bit.
    snap = snapshotBits(given);
    frameBits = typecast(frame(:), 'uint64');
    err = expectError(call, identifier, what);
    expectSnapshot(given, snap, what);
    if ~isequal(typecast(frame(:), 'uint64'), frameBits)
      error('test:changed', '%s: the frame was changed', what);
    end
    count = count + 1;
  end
end

function twoOutputs(model, frame, nhood)
[a, b] = Corvane(model, frame, nhood); %#ok<ASGLU>
end
