function testStructCallIndependence()
% The model Corvane returns and the model passed in are independent values,
% however the gateway builds the result (fresh arrays for the fields the
% update writes, the caller's own arrays shared for the others): writing
% into any field of either afterwards leaves the other as it was, for a
% scalar struct and for element 1 and 2 of a struct array. Fields the model
% shares with the frame or with one another come back as separate arrays.
rand('state', 11); %#ok<RAND>
[model, frame, nhood] = smallModel(5, 4, 2, 2);
model.Notes = 'kept';
names = fieldnames(model);

% Writing into the result leaves the input alone, and the other way round.
snapIn = snapshotBits(model);
out = Corvane(model, frame, nhood);
snapOut = snapshotBits(out);
scribbled = scribble(out, names);
expectSnapshot(model, snapIn, 'the input after every field of the result was written');
scribbled = scribble(model, names); %#ok<NASGU>
expectSnapshot(out, snapOut, 'the result after every field of the input was written');

% The same for a struct array: element 1 updated, element 2 shared.
pair = [model, model];
pair(2).Pi = 0.5 * ones(size(model.Pi));
snapPair1 = snapshotBits(pair(1));
snapPair2 = snapshotBits(pair(2));
outPair = Corvane(pair, frame, nhood);
outPair(1) = scribble(outPair(1), names);
outPair(2) = scribble(outPair(2), names);
expectSnapshot(pair(1), snapPair1, 'element 1 of the input after writing the result');
expectSnapshot(pair(2), snapPair2, 'element 2 of the input after writing the result');

% Fields that share one array with fields the update only reads, or that
% the frame was taken from: the result equals that of separate arrays.
shared = model;
shared.MaximumVariance = 400 + 0 * shared.Pi;
shared.Pi = shared.MaximumVariance / 1000;     % Pi and MaximumVariance separate
shared.Var = shared.Pi;                        % Var shares Pi's array
shared.imMask = shared.MaximumVariance;        % imMask shares a read-only field
separate = shared;
separate.Var(1) = separate.Var(1);
separate.imMask(1) = separate.imMask(1);
snap = snapshotBits(shared);
fromShared = Corvane(shared, frame, nhood);
fromSeparate = Corvane(separate, frame, nhood);
expectSnapshot(shared, snap, 'fields sharing arrays with read-only fields');
for i = 1:numel(names)
  if isa(fromShared.(names{i}), 'double')
    expectBits(fromShared.(names{i}), fromSeparate.(names{i}), ['shared arrays, field ' names{i}]);
  end
end
% A frame that is the same array as a field of the model.
aliased = model;
aliased.Mu = [reshape(frame, 1, []), reshape(model.Mu(numel(frame) + 1:end), 1, [])];
frameOfMu = reshape(aliased.Mu(1:numel(frame)), size(frame));
snap = snapshotBits(aliased);
fromAliased = Corvane(aliased, frameOfMu, nhood);
copyOfFrame = frameOfMu;
copyOfFrame(1) = copyOfFrame(1);
fromCopy = Corvane(aliased, copyOfFrame, nhood);
expectSnapshot(aliased, snap, 'a model whose Mu the frame was taken from');
expectBits(fromAliased.Mu, fromCopy.Mu, 'Mu with the frame taken from it');
expectBits(fromAliased.imMask, fromCopy.imMask, 'imMask with the frame taken from it');
fprintf('the struct call''s result and input are independent\n');
end

function s = scribble(s, names)
% Writes into every double field of struct element s.
for i = 1:numel(names)
  if isa(s.(names{i}), 'double')
    s.(names{i})(1) = -12345;
  else
    s.(names{i}) = 'written';
  end
end
end
