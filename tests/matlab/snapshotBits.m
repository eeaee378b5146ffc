function snap = snapshotBits(s)
% The bits of every double field of struct element 1 of s, as uint64 columns.
% typecast makes new arrays, so the snapshot shares no data with s.
names = fieldnames(s);
snap = struct();
for i = 1:numel(names)
  value = s(1).(names{i});
  if isa(value, 'double') && isreal(value) && ~issparse(value)
    snap.(names{i}) = typecast(value(:), 'uint64');
  end
end
end
