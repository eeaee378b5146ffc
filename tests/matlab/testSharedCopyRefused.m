function testSharedCopyRefused()
% Octave's mxDuplicateArray of a struct it has not yet read shares the field
% data with the caller's variables. A gateway built to duplicate first (test
% build only) must detect that and refuse, leaving the caller's model, and a
% copy-on-write twin of it, exactly as they were.
rand('state', 5); %#ok<RAND>
[model, frame, nhood] = smallModel(4, 3, 1, 2);
twin = model;
snap = snapshotBits(model);
err = expectError(@() Corvane(model, frame, nhood), 'Corvane:copyNotIndependent', 'duplicate first');
expectSnapshot(model, snap, 'the refused call');
expectSnapshot(twin, snap, 'a copy of the model in the refused call');
fprintf('refused: %s\n', err.message);
end
