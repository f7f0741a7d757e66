% OCTEST_RECALL_ORACLE  Labels by exhaustive search: the first node whose sphere covers the
% pattern (distance - 1e-8 <= radius), else the nearest centre (first of equals) when nn is 1,
% else unknown. Also returns, per pattern, whether a node of label own(k) covers it.
%   [labels, ownCovered] = OCTEST_RECALL_ORACLE(Nodes, NodeLabels, p, X, unknown, nn, own)
function [labels, ownCovered] = octest_recall_oracle(Nodes, NodeLabels, p, X, unknown, nn, own)
  labels = zeros(rows(X), 1);
  ownCovered = false(rows(X), 1);
  radius = Nodes(:, end);
  for k = 1:rows(X)
    D = octest_distances(Nodes, X(k, :), p);
    covers = !(D - 1e-8 > radius);
    first = find(covers, 1);
    if (! isempty(first))
      labels(k) = NodeLabels(first);
    elseif (nn == 1)
      [~, nearest] = min(D);
      labels(k) = NodeLabels(nearest);
    else
      labels(k) = unknown;
    end
    if (nargin > 6)
      ownCovered(k) = any(covers & NodeLabels == own(k));
    end
  end
end
