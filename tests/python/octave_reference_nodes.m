% OCTAVE_REFERENCE_NODES(OUTDIR, DATADIR)  The Octave half of the cross-host test: for each
% data set DATADIR/NAME.csv (last column the label) and each norm P in 1, 2, 1.5, Inf, trains
% sphnet_learn on the z-scored data with classes numbered 1..K and Rmax half the median
% distance among up to 500 evenly spaced patterns, recalls the training patterns and the same
% shifted by 0.25, and writes OUTDIR/NAME_P.bin as doubles: M, n, Rmax, mu (n), sigma (n),
% nodes row by row (M x (n+1)), node labels (M), labels of the patterns, labels of the
% shifted patterns.
function octave_reference_nodes(outdir, datadir)
  for name = {'iris', 'breast_cancer', 'digits'}
    D = csvread(fullfile(datadir, [name{1} '.csv']));
    X = D(:, 1:end-1);
    [~, ~, codes] = unique(D(:, end));
    mu = mean(X, 1);
    sigma = std(X, 0, 1);
    sigma(sigma == 0 | ~isfinite(sigma)) = 1;
    Z = (X - mu) ./ sigma;
    for p = [1 2 1.5 Inf]
      rmax = auto_rmax(Z, p);
      [Nodes, NodeLabels, ~] = sphnet_learn(Z, codes, p, rmax, 0, 50, 0);
      Labels = sphnet_recall(Nodes, NodeLabels, p, Z, 0, 1, 0);
      Shifted = sphnet_recall(Nodes, NodeLabels, p, Z + 0.25, 0, 1, 0);
      fid = fopen(fullfile(outdir, sprintf('%s_%g.bin', name{1}, p)), 'w');
      fwrite(fid, [rows(Nodes); columns(X); rmax; mu(:); sigma(:); reshape(Nodes', [], 1);
                   NodeLabels(:); Labels(:); Shifted(:)], 'double');
      fclose(fid);
    end
  end
end

function r = auto_rmax(Z, p)
  S = Z(round(linspace(1, rows(Z), min(rows(Z), 500))), :);
  d = [];
  for i = 1:rows(S) - 1
    A = abs(S(i+1:end, :) - S(i, :));
    if isinf(p)
      d = [d; max(A, [], 2)];
    else
      d = [d; sum(A .^ p, 2) .^ (1 / p)];
    end
  end
  r = 0.5 * median(d);
  if !(isfinite(r) && r > 0)
    r = 1;
  end
end
