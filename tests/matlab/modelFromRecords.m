function model = modelFromRecords(rec, prefix)
% The model whose fields are the records prefix<Field>, in the shapes a MATLAB
% user would give them: Mu 3 x K x N, Sigma2 K x N, Cov 4 x N, per-pixel
% fields H x W, scalars 1 x 1.
H = rec.([prefix 'NumImageRows']);
W = rec.([prefix 'NumImageColumns']);
K = rec.([prefix 'NumMapRows']) * rec.([prefix 'NumMapColumns']);
N = H * W;
model = struct();
model.Mu = reshape(rec.([prefix 'Mu']), 3, K, N);
model.Sigma2 = reshape(rec.([prefix 'Sigma2']), K, N);
names = {'imMask', 'Pi', 'NeuroWin', 'Var'};
for i = 1:numel(names)
  model.(names{i}) = reshape(rec.([prefix names{i}]), H, W);
end
model.Cov = reshape(rec.([prefix 'Cov']), 4, N);
model.MaximumVariance = reshape(rec.([prefix 'MaximumVariance']), H, W);
names = {'NumMapRows', 'NumMapColumns', 'NumImageRows', 'NumImageColumns', ...
         'MinimumVariance', 'StepSize', 'CurrentFrame'};
for i = 1:numel(names)
  model.(names{i}) = rec.([prefix names{i}]);
end
end
