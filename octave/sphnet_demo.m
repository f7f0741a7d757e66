% SPHNET_DEMO  Train an RCE sphere network on the iris data and classify held-out patterns.
%   SPHNET_DEMO(DATADIR) reads iris.csv from DATADIR.
function sphnet_demo(datadir)
  D = csvread(fullfile(datadir, 'iris.csv'));
  X = D(:, 1:end-1);
  y = D(:, end);
  X = (X - mean(X)) ./ std(X);
  train = 1:2:rows(X);
  test = 2:2:rows(X);
  [Nodes, NodeLabels, Presentations] = sphnet_learn(X(train, :), y(train), 2, 1, 0, 50, 1);
  Labels = sphnet_recall(Nodes, NodeLabels, 2, X(test, :), -1, 1, 1);
  printf('iris: %d nodes after %d presentations, held-out accuracy %.1f%%\n', ...
         rows(Nodes), Presentations, 100 * mean(Labels == y(test)));
end
