function expectSnapshot(s, snap, what)
% Fails unless every double field recorded in snap still holds the same bits.
names = fieldnames(snap);
for i = 1:numel(names)
  value = s(1).(names{i});
  if ~isequal(typecast(value(:), 'uint64'), snap.(names{i}))
    error('test:changed', '%s: field %s was changed by the call', what, names{i});
  end
end
end
