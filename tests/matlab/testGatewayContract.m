function testGatewayContract(cases)
% What the caller may rely on besides the numbers: other fields come back
% untouched, shapes and field order do not matter, longer arrays are
% refused naming the field, struct arrays are accepted, fields sharing one array are updated independently,
% and an Octave diagonal matrix serves as the neighbourhood matrix.
rec = readReferenceRecords(fullfile(cases, 'update_random.bin'));
names = modelFieldNames();
model = modelFromRecords(rec, '');
H = model.NumImageRows;
W = model.NumImageColumns;
K = model.NumMapRows * model.NumMapColumns;
N = H * W;
nhood = reshape(rec.matrix, K, K);
frames = reshape(rec.frames, H, W, 3, rec.T);
frame = frames(:, :, :, 1);

% Extra fields of any class come back unchanged, in their place.
extended = model;
extended.Label = 'camera 3';
extended.History = {1, 'two', [3 4]};
extended.Counts = int32([1 2 3]);
extended.Nested = struct('a', 1, 'b', 'x');
extended.Scale = [0.5 NaN -Inf];
extended = orderfields(extended);
updated = Corvane(extended, frame, nhood);
expectAfterFirst(updated, rec, names, 'extra fields');
if ~isequal(fieldnames(updated), fieldnames(extended))
  error('test:fields', 'the fields or their order changed');
end
extras = {'Label', 'History', 'Counts', 'Nested', 'Scale'};
for i = 1:numel(extras)
  if ~isequaln(updated.(extras{i}), extended.(extras{i})) || ...
     ~strcmp(class(updated.(extras{i})), class(extended.(extras{i})))
    error('test:fields', 'extra field %s changed', extras{i});
  end
end

% Only element counts and order matter: row vectors everywhere.
flat = model;
for i = 1:numel(names)
  flat.(names{i}) = reshape(model.(names{i}), 1, []);
end
updated = Corvane(flat, reshape(frame, 1, []), reshape(nhood, [], 1));
expectAfterFirst(updated, rec, names, 'row-vector fields');

% Longer arrays: an array meant for other sizes would be misread, so an
% array field with elements beyond those the sizes give is refused, naming
% it, and the caller's struct is as it was. A longer frame and matrix are
% read through the elements they need.
for i = 1:numel(names)
  if numel(model.(names{i})) == 1
    continue;
  end
  longer = model;
  longer.(names{i}) = [model.(names{i})(:); 7];
  err = expectError(@() Corvane(longer, frame, nhood), 'Corvane:fieldTooLong', ['longer ' names{i}]);
  if isempty(strfind(err.message, [char(34) names{i} char(34)]))
    error('test:message', 'the error for a longer %s does not name it: %s', names{i}, err.message);
  end
end
% The map shape disagreeing with the arrays: a map of one neuron said for
% the arrays of a larger one.
if K == 1
  error('test:case', 'the reference case needs a map of more than one neuron');
end
reshaped = model;
reshaped.NumMapRows = 1;
reshaped.NumMapColumns = 1;
err = expectError(@() Corvane(reshaped, frame, nhood), 'Corvane:fieldTooLong', 'a smaller map shape');
if isempty(strfind(err.message, '"Mu"'))
  error('test:message', 'the error for a smaller map shape does not name Mu: %s', err.message);
end
updated = Corvane(model, cat(3, frame, frame), [nhood(:); 5]);
expectBits(updated.Mu, rec.after1_Mu, 'longer frame and matrix');

% Scalar fields are read through their first element.
wide = model;
wide.CurrentFrame = [model.CurrentFrame, 5];
wide.NumMapRows = [model.NumMapRows, 99];
updated = Corvane(wide, frame, nhood);
expectBits(updated.CurrentFrame, [rec.after1_CurrentFrame; 5], 'two-element CurrentFrame');
expectBits(updated.Mu, rec.after1_Mu, 'Mu with a two-element NumMapRows');

% A struct array: element 1 is updated, element 2 comes back unchanged.
pair = [model, model];
pair(2).Pi = zeros(H, W);
updated = Corvane(pair, frame, nhood);
expectAfterFirst(updated(1), rec, names, 'element 1 of a struct array');
expectBits(updated(2).Pi, zeros(H, W), 'element 2 of a struct array');
expectBits(updated(2).CurrentFrame, model.CurrentFrame, 'element 2 of a struct array');

% Fields holding one shared array are updated as if they were separate.
shared = model;
shared.Var = model.Pi;
shared.imMask = model.Pi;
shared.NeuroWin = model.Pi;
separate = shared;
separate.Var(1) = separate.Var(1);        % indexed assignment unshares
separate.imMask(1) = separate.imMask(1);
separate.NeuroWin(1) = separate.NeuroWin(1);
snap = snapshotBits(shared);
fromShared = Corvane(shared, frame, nhood);
fromSeparate = Corvane(separate, frame, nhood);
expectSnapshot(shared, snap, 'fields sharing one array');
for i = 1:numel(names)
  expectBits(fromShared.(names{i}), fromSeparate.(names{i}), ['shared arrays, field ' names{i}]);
end

% Octave keeps 0.1*eye(K) as a diagonal matrix; it is used as its full form.
diagonal = Corvane(model, frame, 0.1 * eye(K));
dense = Corvane(model, frame, full(0.1 * eye(K)) + zeros(K));
for i = 1:numel(names)
  expectBits(diagonal.(names{i}), dense.(names{i}), ['diagonal matrix, field ' names{i}]);
end
% Octave's compact storage (ranges, lazy find() results) is read as the
% values it stands for, and stays as it was in the caller's struct.
compact = model;
compact.Mu = 0.5:0.5:1.5 * K * N;
compact.NeuroWin = reshape(find(true(N, 1)), H, W) - 1;
expanded = compact;
expanded.Mu(1) = expanded.Mu(1);
expanded.NeuroWin(1) = expanded.NeuroWin(1);
snap = snapshotBits(compact);
fromCompact = Corvane(compact, frame, nhood);
fromExpanded = Corvane(expanded, frame, nhood);
expectSnapshot(compact, snap, 'compact storage');
for i = 1:numel(names)
  expectBits(fromCompact.(names{i}), fromExpanded.(names{i}), ['compact storage, field ' names{i}]);
end
fprintf('gateway contract holds\n');
end

function expectAfterFirst(updated, rec, names, what)
for i = 1:numel(names)
  expectBits(updated.(names{i}), rec.(['after1_' names{i}]), [what ', field ' names{i}]);
end
end
