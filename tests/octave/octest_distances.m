% OCTEST_DISTANCES  Minkowski distances of order p from one pattern to every node centre.
%   D = OCTEST_DISTANCES(Nodes, x, p): Nodes holds a centre and a radius per row, x is a row.
%   The sum runs in coordinate order, as the modules sum, so p = 1, 2 and Inf give the same
%   doubles as the modules. Where a sum of powers overflows or falls below the normal range,
%   each term is divided by the row's largest first, as the modules do.
function D = octest_distances(Nodes, x, p)
  T = abs(Nodes(:, 1:end-1) - x);
  if (p == 1)
    D = sum(T, 2);
  elseif (isinf(p))
    D = max([zeros(rows(T), 1), T], [], 2);
  else
    S = sum(T .^ p, 2);
    D = S .^ (1 / p);
    m = max([zeros(rows(T), 1), T], [], 2);
    odd = ! (S >= realmin & S <= realmax) & m > 0 & isfinite(m);
    D(odd) = m(odd) .* sum((T(odd, :) ./ m(odd)) .^ p, 2) .^ (1 / p);
  end
end
