function [X, y] = bench_data_halves(N, n, seed)
% Two overlapping Gaussian classes split by the plane x1 + x2 = 0 (standard normal patterns).
  randn('state', seed);
  X = randn(N, n);
  y = 1 + (X(:, 1) + X(:, 2) > 0);
end
