function [X, y] = bench_data(family, N, n, seed, cfg)
% N patterns of a workload family: 'halves' (two overlapping Gaussian classes), 'overlap' and
% 'separated' (ten Gaussian clusters with unit noise, overlapping or well apart), 'shift2' and
% 'shift3' (two or three classes whose means lie 0.6 apart per coordinate), 'digits'
% (the shipped set; N above its size cycles through it with 0.1 noise, for recall).
  switch family
    case 'halves'
      [X, y] = bench_data_halves(N, n, seed);
    case 'overlap'
      [X, y] = bench_data_clusters(N, n, 0.5, seed);
    case 'separated'
      [X, y] = bench_data_clusters(N, n, 5, seed);
    case {'shift2', 'shift3'}
      [X, y] = bench_data_shifted(N, n, family(end) - '0', seed);
    case 'digits'
      [X, y] = bench_data_digits(cfg.data_dir);
      if N != rows(X)
        randn('state', seed);
        pick = 1 + mod(0:N-1, rows(X))';
        X = X(pick, :) + 0.1 * randn(N, columns(X));
        y = y(pick);
      end
    otherwise
      error('bench: unknown workload family %s', family);
  end
end
