% OCTEST_DISTANCES  Minkowski distances of order p from one pattern to every node centre.
%   D = OCTEST_DISTANCES(Nodes, x, p): Nodes holds a centre and a radius per row, x is a row.
%   The sum runs in coordinate order, as the modules sum, so p = 1, 2 and Inf give the same
%   doubles as the modules.
function D = octest_distances(Nodes, x, p)
  T = abs(Nodes(:, 1:end-1) - x);
  if (p == 1)
    D = sum(T, 2);
  elseif (isinf(p))
    D = max([zeros(rows(T), 1), T], [], 2);
  else
    D = sum(T .^ p, 2) .^ (1 / p);
  end
end
