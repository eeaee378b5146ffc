function err = expectError(call, identifier, what)
% Runs call() and fails unless it raises an error with the given identifier.
try
  call();
catch err
  if ~strcmp(err.identifier, identifier)
    error('test:error', '%s: raised %s (%s), expected %s', what, err.identifier, err.message, identifier);
  end
  return;
end
error('test:error', '%s: no error, expected %s', what, identifier);
end
