function [X, y] = bench_data_shifted(N, n, classes, seed)
% CLASSES overlapping Gaussian classes of unit variance whose means lie 0.6 apart in every
% coordinate (two classes: -0.3 and +0.3), in shuffled order.
  randn('state', seed);
  rand('state', seed);
  y = 1 + floor(classes * rand(N, 1));
  X = randn(N, n) + 0.6 * (y - (classes + 1) / 2);
end
