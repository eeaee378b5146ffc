function testParametersMatchTable(cases)
% corvaneParameters, which runs without any build, knows exactly the
% parameters of the C++ parameter table: the same names, the same defaults
% bit for bit, the same ranges, and it accepts and refuses the same values at
% and next to each end of every range as SetParameter and ValidateParameters.
rec = readReferenceRecords(fullfile(cases, 'parameters.bin'));
names = strsplit(char(rec.names(:).'), ',');
[params, info] = corvaneParameters();

known = fieldnames(params);
if ~isequal(known(:), names(:)) || ~isequal({info.name}, names)
  error('test:names', 'corvaneParameters has %s; the table has %s', sprintf('%s ', known{:}), ...
        sprintf('%s ', names{:}));
end
for i = 1:numel(names)
  name = names{i};
  expectBits(params.(name), rec.defaults(i), ['default of ' name]);
  expectBits(info(i).default, rec.defaults(i), ['default in the info of ' name]);
  entry = info(i);
  ours = [entry.whole, entry.low, entry.lowInclusive, entry.high, entry.highInclusive, entry.odd];
  theirs = [rec.whole(i), rec.low(i), rec.lowInclusive(i), rec.high(i), rec.highInclusive(i), rec.odd(i)];
  if ~isequal(double(ours), theirs)
    error('test:range', '%s: corvaneParameters has whole, low, low included, high, high included, odd = %s; the table has %s', ...
          name, mat2str(double(ours)), mat2str(theirs));
  end
  bound = '';
  if rec.atLeast(i) > 0
    bound = names{rec.atLeast(i)};
  end
  if ~strcmp(entry.atLeast, bound)
    error('test:range', '%s: corvaneParameters says at least ''%s''; the table says ''%s''', ...
          name, entry.atLeast, bound);
  end
end

% The same verdict on every probe as the C++ checks.
for k = 1:numel(rec.probeValue)
  name = names{rec.probeParameter(k)};
  value = rec.probeValue(k);
  accepted = true;
  try
    corvaneParameters(name, value);
  catch err
    if ~strcmp(err.identifier, 'Corvane:badParameter')
      error('test:probe', '%s = %.17g raised %s (%s)', name, value, err.identifier, err.message);
    end
    accepted = false;
  end
  if accepted ~= rec.probeAccepted(k)
    verdicts = {'refuses', 'accepts'};
    error('test:probe', 'corvaneParameters %s %s = %.17g; the C++ table %s it', ...
          verdicts{1 + accepted}, name, value, verdicts{1 + rec.probeAccepted(k)});
  end
end
fprintf('%d parameters and %d probes agree with the C++ table\n', numel(names), numel(rec.probeValue));
end
