% OCTAVE_REFERENCE_NODES(OUTDIR, DATADIR)  The Octave half of the cross-host test: for each
% data set DATADIR/NAME.csv (last column the label) and each norm P in 1, 2, 1.5, Inf,
% sphnet_fit with 'Standardize' and the automatic Rmax, sphnet_predict on the patterns and on
% the patterns shifted by 0.25 (with info), and the classic sphnet_learn on the same z-scores
% and Rmax. Writes OUTDIR/NAME_P.bin as doubles: M, n, Rmax, mu (n), sigma (n), the model's
% nodes row by row (M x (n+1)), its node classes (M), sphnet_learn's nodes (M x (n+1)), the
% labels of the patterns, then for the shifted patterns their labels, deciding nodes,
% distances, cover counts and statuses (1 identified, 2 uncertain, 3 unknown).
function octave_reference_nodes(outdir, datadir)
  for name = {'iris', 'breast_cancer', 'digits'}
    D = csvread(fullfile(datadir, [name{1} '.csv']));
    X = D(:, 1:end-1);
    y = D(:, end);
    for p = [1 2 1.5 Inf]
      model = sphnet_fit(X, y, 'Norm', p, 'Standardize', true);
      s = model.standardize;
      [~, ~, classIdx] = unique(y);
      [Classic, ~, ~] = sphnet_learn((X - s.mu) ./ s.sigma, classIdx, p, model.rmax, 0, 50, 0);
      [shifted, info] = sphnet_predict(model, X + 0.25);
      [~, status] = ismember(info.status, {'identified', 'uncertain', 'unknown'});
      fid = fopen(fullfile(outdir, sprintf('%s_%g.bin', name{1}, p)), 'w');
      fwrite(fid, [rows(model.centres); columns(X); model.rmax; s.mu(:); s.sigma(:);
                   reshape([model.centres, model.radii]', [], 1); model.nodeClass(:);
                   reshape(Classic', [], 1); sphnet_predict(model, X); shifted; info.node;
                   info.distance; info.coverCount; status], 'double');
      fclose(fid);
    end
  end
end
