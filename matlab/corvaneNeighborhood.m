function nhood = corvaneNeighborhood(varargin)
%CORVANENEIGHBORHOOD  Neuron neighbourhood matrix for Corvane.
%
%   nhood = corvaneNeighborhood()
%   nhood = corvaneNeighborhood('Name', value, ...)
%   nhood = corvaneNeighborhood(params, 'Name', value, ...)
%
%   Returns the K x K matrix (K = mapRows*mapColumns) passed to Corvane with
%   every frame. Column w holds the learning rate of every neuron of a pixel
%   when neuron w wins: neuron j, at grid distance d from w on the
%   mapRows x mapColumns map, moves at
%
%       learningRate * exp(-d^2 / (2 * neighborhoodWidth^2))
%
%   so the winner moves at learningRate and its map neighbours less. With
%   neighborhoodWidth 0 (or less) only the winner moves (winner-take-all).
%   Neuron j (0-based) sits at map row mod(j, mapRows), column
%   floor(j / mapRows), the column-major order of the map.
%
%   Parameters, as name/value pairs or a struct from corvaneParameters (see
%   'help corvaneParameters' for each one's meaning, unit and default):
%   mapRows, mapColumns, learningRate, neighborhoodWidth. Others are accepted
%   and ignored, so one parameter set serves both builders.
%
%   The result equals, bit for bit, the C++ setup's BuildNeighborhoodMatrix.
%
%   See also corvaneParameters, corvaneInitModel, Corvane.

params = corvaneParameters(varargin{:});
rows = params.mapRows;
K = rows * params.mapColumns;
width = params.neighborhoodWidth;
[j, w] = ndgrid(0:K - 1, 0:K - 1);   % element (j+1, w+1): neuron j when w wins
dr = mod(w, rows) - mod(j, rows);
dc = floor(w / rows) - floor(j / rows);
distance2 = dr .* dr + dc .* dc;
if width > 0
  nhood = params.learningRate * exp(-distance2 ./ (2 * width * width));
else
  nhood = zeros(K, K);
  nhood(j == w) = params.learningRate;
end
end
