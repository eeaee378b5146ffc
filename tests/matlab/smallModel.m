function [model, frame, nhood] = smallModel(H, W, mapRows, mapColumns)
% A valid model of random values, with a frame and a neighbourhood matrix,
% built without the toolbox.
K = mapRows * mapColumns;
N = H * W;
model = struct();
model.Mu = 255 * rand(3, K, N);
model.Sigma2 = 1 + 100 * rand(K, N);
model.imMask = rand(H, W);
model.Pi = 0.1 + 0.5 * rand(H, W);
model.NeuroWin = zeros(H, W);
model.Var = 0.05 + 0.1 * rand(H, W);
model.Cov = 0.02 * rand(4, N);
model.MaximumVariance = 400 * ones(H, W);
model.NumMapRows = mapRows;
model.NumMapColumns = mapColumns;
model.NumImageRows = H;
model.NumImageColumns = W;
model.MinimumVariance = 4;
model.StepSize = 0.02;
model.CurrentFrame = 0;
frame = 255 * rand(H, W, 3);
nhood = 0.1 * rand(K, K);
end
