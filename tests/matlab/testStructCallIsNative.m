function testStructCallIsNative()
% In the built folder Octave calls Corvane.oct, not Corvane.mex beside it,
% and `help Corvane` shows the toolbox's help for it.
where = which('Corvane');
[~, ~, extension] = fileparts(where);
if ~strcmp(extension, '.oct')
  error('test:native', 'Corvane resolves to %s, not to Corvane.oct', where);
end
text = help('Corvane');
if isempty(strfind(text, 'model = Corvane(model, frame, nhood)')) || ...
   isempty(strfind(text, 'Corvane:fieldTooShort'))
  error('test:help', 'help Corvane does not show the toolbox''s help:\n%s', text);
end
fprintf('Corvane is %s\n', where);
end
