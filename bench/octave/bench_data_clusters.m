function [X, y] = bench_data_clusters(N, n, spread, seed)
% Ten Gaussian clusters, one class each, with unit noise around centres drawn as spread * randn
% (the same centres for every seed): spread 0.5 makes the classes overlap, spread 5 separates
% them well.
  classes = 10;
  randn('state', 0);
  centres = spread * randn(classes, n);
  rand('state', seed);
  randn('state', seed);
  y = 1 + floor(classes * rand(N, 1));
  X = centres(y, :) + randn(N, n);
end
