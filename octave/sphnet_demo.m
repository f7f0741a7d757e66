function results = sphnet_demo(outdir)
% SPHNET_DEMO  Show what an RCE sphere network does, in a picture and in a table.
%   SPHNET_DEMO writes sphnet_demo.png and sphnet_demo_table.txt into the current folder.
%   SPHNET_DEMO(OUTDIR) writes them into OUTDIR (created when missing).
%   RESULTS = SPHNET_DEMO(...) also returns the table as a struct array, one element per data set.
%
%   The table comes from the model interface, model = SPHNET_FIT(X, y, 'Standardize', true)
%   and [labels, info] = SPHNET_PREDICT(model, Xtest); the picture from the classic pair
%   SPHNET_LEARN and SPHNET_RECALL that it runs on.
%
%   1. Two interleaved half-moons (300 points, fixed seed) train a network with norm_type 2,
%      Rmax 0.5 and margin 0. The picture shows the label every point of the plane gets from
%      SPHNET_RECALL, with nn_option 1 (uncovered points take the nearest node's label) beside
%      nn_option 0 (uncovered points get unknown_label, drawn grey), the training points and
%      the spheres (circles).
%   2. On iris, wine, breast_cancer and digits (shipped in the data folder beside this file):
%      10-fold cross-validation with a fixed split and SPHNET_FIT's defaults: z-scores taken
%      from each training fold, norm 2, margin 0 and Rmax 'auto' (half the median distance
%      between up to 500 evenly spaced training patterns). The
%      table gives the accuracy with nn_option 1, the share of test patterns that no sphere
%      covered (they fell back to the 1-NN rule), the mean node count and compression, the mean
%      number of list presentations, the total training and recall time, and, for comparison,
%      the accuracy of plain 1-nearest-neighbour on the same folds.
%
%   Runs unchanged in Octave (headless: it draws with gnuplot into the PNG) and in MATLAB.
%
%   See also SPHNET_FIT, SPHNET_PREDICT, SPHNET_LEARN, SPHNET_RECALL.

if nargin < 1
  outdir = pwd;
end
if ~exist(outdir, 'dir')
  mkdir(outdir);
end
here = fileparts(mfilename('fullpath'));
datadir = fullfile(here, 'data');

pngfile = fullfile(outdir, 'sphnet_demo.png');
draw_moons(pngfile);
fprintf('Picture: %s\n\n', pngfile);

results = cross_validate(datadir);
table = format_table(results);
fprintf('%s', table);
tablefile = fullfile(outdir, 'sphnet_demo_table.txt');
fid = fopen(tablefile, 'w');
fprintf(fid, '%s', table);
fclose(fid);
fprintf('Table: %s\n', tablefile);
if nargout == 0
  clear results
end
end

% ---------------------------------------------------------------------------------------------
function draw_moons(pngfile)
seed = 20261208;
[X, y, seed] = half_moons(150, 0.12, seed); %#ok<ASGLU>
Rmax = 0.5;
fprintf('Two half-moons, %d points: sphnet_learn(X, y, 2, %g, 0, 50, 1)\n', size(X, 1), Rmax);
[Nodes, NodeLabels, ~] = sphnet_learn(X, y, 2, Rmax, 0, 50, 1);

xs = linspace(-1.6, 2.6, 281);
ys = linspace(-1.1, 1.6, 181);
[GX, GY] = meshgrid(xs, ys);
G = [GX(:), GY(:)];
unknown = 0;
with_nn = sphnet_recall(Nodes, NodeLabels, 2, G, unknown, 1, 0);
without_nn = sphnet_recall(Nodes, NodeLabels, 2, G, unknown, 0, 0);
train_ok = mean(sphnet_recall(Nodes, NodeLabels, 2, X, unknown, 1, 0) == y);
uncovered = mean(without_nn == unknown);

if exist('OCTAVE_VERSION', 'builtin')
  % gnuplot draws without a display; the session keeps its own toolkit for later figures.
  state = warning('off', 'Octave:gnuplot-graphics');
  previous = graphics_toolkit();
  graphics_toolkit('gnuplot');
  warning(state);
  restore = onCleanup(@() graphics_toolkit(previous)); %#ok<NASGU>
end
% Region colours (light) for unknown, class 1, class 2; point colours (dark) for the classes.
region = [0.82 0.82 0.82; 0.72 0.84 1.00; 1.00 0.80 0.68];
point = [0.05 0.25 0.70; 0.75 0.25 0.00];
fig = figure('visible', 'off', 'position', [0 0 1400 580]);
titles = {'nn_option = 1: points outside every sphere take the nearest node''s label', ...
          sprintf('nn_option = 0: points outside every sphere get unknown_label (grey, %.0f%% of the plane)', ...
                  100 * uncovered)};
labelled = {with_nn, without_nn};
for k = 1:2
  ax = axes('position', [0.045 + 0.5 * (k - 1), 0.17, 0.43, 0.68]);
  L = reshape(labelled{k}, size(GX));
  image(xs, ys, L + 1);  % label 0, 1, 2 -> colour row 1, 2, 3
  colormap(ax, region);
  set(ax, 'ydir', 'normal');
  hold on;
  % One line object per class, circles separated by NaN.
  t = [linspace(0, 2 * pi, 61), NaN]';
  for c = 1:2
    nodes = Nodes(NodeLabels == c, :);
    cx = bsxfun(@plus, nodes(:, 1)', bsxfun(@times, cos(t), max(nodes(:, 3), 0)'));
    cy = bsxfun(@plus, nodes(:, 2)', bsxfun(@times, sin(t), max(nodes(:, 3), 0)'));
    h_circle(c) = plot(cx(:), cy(:), '-', 'color', point(c, :), 'linewidth', 0.8); %#ok<AGROW>
  end
  for c = 1:2
    h_point(c) = plot(X(y == c, 1), X(y == c, 2), 'o', 'markersize', 4, ...
                      'markeredgecolor', point(c, :), 'markerfacecolor', point(c, :)); %#ok<AGROW>
  end
  % Stand-ins so that the legend can name the region colours.
  for c = [2 3 1]
    h_region(c) = plot(NaN, NaN, 's', 'markersize', 12, 'markeredgecolor', [0.4 0.4 0.4], ...
                       'markerfacecolor', region(c, :)); %#ok<AGROW>
  end
  axis equal;
  axis([xs(1) xs(end) ys(1) ys(end)]);
  xlabel('x_1');
  ylabel('x_2');
  title(titles{k}, 'interpreter', 'none');
  names = {'class 1 spheres (nodes)', 'class 2 spheres (nodes)', ...
           'class 1 training points', 'class 2 training points', ...
           'region labelled 1', 'region labelled 2'};
  handles = [h_circle, h_point, h_region(2:3)];
  if k == 2
    names{end + 1} = 'unknown_label (no sphere)'; %#ok<AGROW>
    handles(end + 1) = h_region(1); %#ok<AGROW>
  end
  hl = legend(handles, names, 'location', 'southoutside', 'orientation', 'horizontal');
  set(hl, 'interpreter', 'none');
  set(ax, 'position', [0.045 + 0.5 * (k - 1), 0.17, 0.43, 0.68]);
  hold off;
end
axes('position', [0 0 1 1], 'visible', 'off');
text(0.045, 0.96, sprintf(['RCE network on two half-moons: %d nodes from %d training points ' ...
                         '(norm_type 2, Rmax %g, margin 0); training points labelled correctly: %.0f%%'], ...
                        size(Nodes, 1), size(X, 1), Rmax, 100 * train_ok), ...
     'horizontalalignment', 'left', 'interpreter', 'none', 'fontsize', 13);
print(fig, pngfile, '-dpng', '-r100');
close(fig);
end

% ---------------------------------------------------------------------------------------------
function results = cross_validate(datadir)
names = {'iris', 'wine', 'breast_cancer', 'digits'};
folds = 10;
results = struct([]);
for i = 1:numel(names)
  D = csvread(fullfile(datadir, [names{i} '.csv']));
  X = D(:, 1:end - 1);
  y = D(:, end);
  N = size(X, 1);
  n = size(X, 2);
  % Fixed split: a seeded shuffle, then patterns dealt round-robin into the folds.
  [order, ~] = uniform(N, 1000 + i);
  [~, perm] = sort(order);
  fold = zeros(N, 1);
  fold(perm) = mod(0:N - 1, folds) + 1;

  correct = 0; fallback = 0; nn_correct = 0;
  nodes = zeros(folds, 1); compression = zeros(folds, 1); presentations = zeros(folds, 1);
  train_time = 0; recall_time = 0; Rmax = zeros(folds, 1);
  for k = 1:folds
    tr = fold ~= k;
    te = fold == k;
    t0 = tic;
    model = sphnet_fit(X(tr, :), y(tr), 'Standardize', true);
    train_time = train_time + toc(t0);
    t0 = tic;
    [labels, info] = sphnet_predict(model, X(te, :));
    recall_time = recall_time + toc(t0);

    Rmax(k) = model.rmax;
    correct = correct + sum(labels == y(te));
    fallback = fallback + sum(~info.covered);
    nodes(k) = size(model.centres, 1);
    compression(k) = (1 - (n + 1) * nodes(k) / (sum(tr) * n)) * 100;
    presentations(k) = model.summary.passes;

    % Plain 1-nearest-neighbour on the same fold, for comparison.
    [Xtr, Xte] = standardise(X(tr, :), X(te, :));
    [~, nearest] = min(distances(Xte, Xtr), [], 2);
    ytr = y(tr);
    nn_correct = nn_correct + sum(ytr(nearest) == y(te));
  end
  r.name = names{i};
  r.patterns = N;
  r.features = n;
  r.classes = numel(unique(y));
  r.Rmax = mean(Rmax);
  r.accuracy = 100 * correct / N;
  r.fallback = 100 * fallback / N;
  r.nodes = mean(nodes);
  r.compression = mean(compression);
  r.presentations = mean(presentations);
  r.train_seconds = train_time;
  r.recall_seconds = recall_time;
  r.nn_accuracy = 100 * nn_correct / N;
  results = [results, r]; %#ok<AGROW>
end
end

function text = format_table(results)
line = repmat('-', 1, 118);
text = sprintf(['10-fold cross-validation (fixed split): model = sphnet_fit(Xtrain, ytrain, ' ...
                '''Standardize'', true),\nlabels = sphnet_predict(model, Xtest): norm 2, margin 0, ' ...
                'Rmax ''auto'', MaxPasses 50, fallback ''nearest''.\n']);
text = [text, line, sprintf('\n')];
text = [text, sprintf('%-14s %5s %3s %3s %5s %8s %9s %7s %12s %6s %8s %8s %8s\n', ...
  'data set', 'N', 'n', 'cls', 'Rmax', 'accuracy', '1-NN fall', 'nodes', 'compression', ...
  'pres.', 'train s', 'recall s', 'plain 1-NN')];
text = [text, line, sprintf('\n')];
for r = results
  text = [text, sprintf('%-14s %5d %3d %3d %5.2f %7.1f%% %8.1f%% %7.1f %11.1f%% %6.1f %8.2f %8.2f %8.1f%%\n', ...
    r.name, r.patterns, r.features, r.classes, r.Rmax, r.accuracy, r.fallback, r.nodes, ...
    r.compression, r.presentations, r.train_seconds, r.recall_seconds, r.nn_accuracy)]; %#ok<AGROW>
end
text = [text, line, sprintf('\n')];
text = [text, sprintf(['accuracy and 1-NN fall(back): share of all patterns, each tested once; ' ...
                       'nodes, compression, pres(entations): mean per fold;\ntimes: sum over ' ...
                       'the 10 folds (seconds); plain 1-NN: nearest training pattern, same folds.\n'])];
end

% ---------------------------------------------------------------------------------------------
function [Xtr, Xte] = standardise(Xtr, Xte)
mu = mean(Xtr, 1);
sigma = std(Xtr, 0, 1);
sigma(sigma == 0) = 1;  % constant columns (digits' border pixels) stay 0
Xtr = bsxfun(@rdivide, bsxfun(@minus, Xtr, mu), sigma);
Xte = bsxfun(@rdivide, bsxfun(@minus, Xte, mu), sigma);
end

function D = distances(A, B)
% Euclidean distances between the rows of A and the rows of B.
D = sqrt(max(bsxfun(@plus, sum(A .^ 2, 2), sum(B .^ 2, 2)') - 2 * (A * B'), 0));
end

function [X, y, seed] = half_moons(per_class, noise, seed)
[u, seed] = uniform(2 * per_class, seed);
[g, seed] = gaussian(4 * per_class, seed);
t = pi * u;
upper = [cos(t(1:per_class)), sin(t(1:per_class))];
lower = [1 - cos(t(per_class + 1:end)), 0.5 - sin(t(per_class + 1:end))];
X = [upper; lower] + noise * reshape(g, [], 2);
y = [ones(per_class, 1); 2 * ones(per_class, 1)];
end

function [u, seed] = uniform(count, seed)
% Park-Miller minimal standard generator: the same numbers in every host and release.
u = zeros(count, 1);
for i = 1:count
  seed = mod(16807 * seed, 2147483647);
  u(i) = seed / 2147483647;
end
end

function [g, seed] = gaussian(count, seed)
% Box-Muller on pairs of uniform numbers.
[u, seed] = uniform(2 * ceil(count / 2), seed);
a = u(1:2:end);
b = u(2:2:end);
g = [sqrt(-2 * log(a)) .* cos(2 * pi * b); sqrt(-2 * log(a)) .* sin(2 * pi * b)];
g = g(1:count);
end
