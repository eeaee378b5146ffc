function expectBits(actual, expected, what)
% Fails unless actual holds doubles with exactly the bits of expected, element
% by element (NaN payloads and signed zeros included; shapes may differ).
if ~isa(actual, 'double')
  error('test:bits', '%s is of class %s, not double', what, class(actual));
end
if numel(actual) ~= numel(expected)
  error('test:bits', '%s has %d elements, expected %d', what, numel(actual), numel(expected));
end
a = typecast(actual(:), 'uint64');
b = typecast(double(expected(:)), 'uint64');
differ = find(a ~= b, 1);
if ~isempty(differ)
  error('test:bits', '%s differs at element %d: %.17g, expected %.17g (%d elements differ)', ...
        what, differ, actual(differ), expected(differ), sum(a ~= b));
end
end
