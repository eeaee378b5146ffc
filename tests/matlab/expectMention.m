function expectMention(err, text)
% Fails unless the error's message mentions `text`.
if isempty(strfind(err.message, text))
  error('test:message', 'the message ''%s'' does not mention %s', err.message, text);
end
end
