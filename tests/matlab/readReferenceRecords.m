function rec = readReferenceRecords(path)
% Reads a file of records written by corvane_write_reference_cases into a
% struct: one field per record, a column of doubles.
fid = fopen(path, 'r');
if fid < 0
  error('test:io', 'cannot open %s', path);
end
rec = struct();
while true
  len = fread(fid, 1, 'double');
  if isempty(len)
    break;
  end
  name = char(fread(fid, len, 'double').');
  count = fread(fid, 1, 'double');
  values = fread(fid, count, 'double');
  if numel(values) ~= count
    fclose(fid);
    error('test:io', '%s: record %s is truncated', path, name);
  end
  rec.(name) = values;
end
fclose(fid);
end
