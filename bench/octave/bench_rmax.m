function r = bench_rmax(X, p)
% Rmax as sphnet_learn's help advises: half the median distance (in the p-norm) between the
% patterns of a fixed subsample of at most 500.
  rand('state', 7);
  S = X(randperm(rows(X), min(rows(X), 500)), :);
  D = zeros(rows(S));
  for i = 1:rows(S)
    diffs = abs(S - S(i, :));
    if isinf(p)
      D(:, i) = max(diffs, [], 2);
    else
      D(:, i) = sum(diffs .^ p, 2) .^ (1 / p);
    end
  end
  r = 0.5 * median(D(~eye(rows(S))));
end
