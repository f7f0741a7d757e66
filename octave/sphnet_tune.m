function [model, table, folds] = sphnet_tune(X, y, varargin)
% SPHNET_TUNE  Choose Rmax (and Margin) by cross-validation and train on all data with it.
%   [MODEL, TABLE] = SPHNET_TUNE(X, Y) cross-validates SPHNET_FIT over a grid of Rmax values
%   (0.25, 0.5, 1, 2 and 4 times the automatic Rmax of all of X) with stratified folds, picks
%   the setting of the highest mean held-out accuracy (ties: fewer nodes, then the earlier
%   setting), and returns MODEL, trained by SPHNET_FIT on all of X and Y with it, and TABLE,
%   one row per setting. Without outputs it prints the table, the chosen setting marked *:
%
%     D = csvread(fullfile(fileparts(which('sphnet_tune')), 'data', 'wine.csv'));
%     sphnet_tune(D(:, 1:end-1), D(:, end), 'Standardize', true)
%
%   X and Y are as for SPHNET_FIT (their errors carry its identifiers). Options (names in any
%   case):
%     'Rmax'        the Rmax values to try, numbers >= 0. Default: the multiples above.
%     'Margin'      the Margin values to try, finite numbers >= 0; every pair of Rmax and
%                   Margin is a setting. Default 0.
%     'Folds'       number of folds, a whole number from 2 to the number of rows. Default 5.
%                   Each class is spread evenly over the folds.
%     'Seed'        seed of the shuffle that makes the folds (the random generator's state is
%                   restored afterwards), a whole number >= 0. Default 1.
%     'Norm', 'Standardize'   passed to SPHNET_FIT (each fold standardises with its training
%                   rows' statistics). Defaults 2 and false.
%     'Verbose'     true: one line per setting, its fold accuracies printed as they come.
%
%   TABLE is a struct of columns, one row per setting (Rmax varying fastest):
%     rmax, margin        the setting
%     accuracy, spread    mean and standard deviation of the folds' held-out accuracy
%     nodes               mean number of nodes
%     uncertain, unknown  share of held-out patterns whose status (SPHNET_PREDICT's info) is
%                         'uncertain' or 'unknown', over all folds
%     foldAccuracy        the accuracy of each fold (settings x folds)
%     best                true in the chosen row
%   [MODEL, TABLE, FOLDS] = SPHNET_TUNE(...) also gives each row's fold number (N x 1).
%
%   Errors: sphnet:tune:badOption, sphnet:tune:badOptionValue.
%
%   See also SPHNET_FIT, SPHNET_PREDICT.

  if nargin < 2
    error('sphnet:tune:badOption', 'sphnet_tune: X and Y are required.');
  end
  opts = parse_options(varargin);
  fit_options = {'Norm', opts.norm, 'Standardize', opts.standardize};
  % All of the data once: the automatic Rmax the default grid multiplies, and the class of each row.
  quiet = {'sphnet:fit:notConverged', 'sphnet:fit:negativeRadius', 'sphnet:fit:marginExceedsRmax', ...
           'sphnet:fit:tinyScale'};
  state = warning();
  restore_warnings = onCleanup(@() warning(state));
  cellfun(@(id) warning('off', id), quiet);  % the table reports on the folds; the final fit warns
  probe = sphnet_fit(X, y, fit_options{:}, 'MaxPasses', 1);
  if ischar(y)
    [~, classIdx] = ismember(y, probe.classes, 'rows');
  else
    [~, classIdx] = ismember(y(:), probe.classes);
  end
  N = numel(classIdx);
  if opts.folds > N
    error('sphnet:tune:badOptionValue', 'sphnet_tune: Folds (%d) exceeds the number of rows (%d).', ...
          opts.folds, N);
  end
  if isempty(opts.rmax)
    opts.rmax = [0.25 0.5 1 2 4] * probe.rmax;
  end
  folds = stratified_folds(classIdx, opts.folds, opts.seed);

  [R, M] = ndgrid(opts.rmax(:), opts.margin(:));
  S = numel(R);
  F = opts.folds;
  table = struct('rmax', R(:), 'margin', M(:), 'accuracy', zeros(S, 1), 'spread', zeros(S, 1), ...
                 'nodes', zeros(S, 1), 'uncertain', zeros(S, 1), 'unknown', zeros(S, 1), ...
                 'foldAccuracy', zeros(S, F), 'best', false(S, 1));
  for s = 1:S
    if opts.verbose
      printf('Rmax %-10.4g Margin %-8.4g folds:', R(s), M(s));
    end
    nodes = zeros(1, F);
    status = cell(N, 1);
    for f = 1:F
      test = folds == f;
      m = sphnet_fit(rows_of(X, ~test), rows_of(y, ~test), fit_options{:}, 'Rmax', R(s), 'Margin', M(s));
      [labels, info] = sphnet_predict(m, rows_of(X, test));
      table.foldAccuracy(s, f) = mean(same_labels(labels, rows_of(y, test)));
      nodes(f) = rows(m.centres);
      status(test) = info.status;
      if opts.verbose
        printf(' %5.1f%%', 100 * table.foldAccuracy(s, f));
        fflush(stdout);
      end
    end
    table.accuracy(s) = mean(table.foldAccuracy(s, :));
    table.spread(s) = std(table.foldAccuracy(s, :));
    table.nodes(s) = mean(nodes);
    table.uncertain(s) = mean(strcmp(status, 'uncertain'));
    table.unknown(s) = mean(strcmp(status, 'unknown'));
    if opts.verbose
      printf('  mean %5.1f%%\n', 100 * table.accuracy(s));
    end
  end
  [~, order] = sortrows([-table.accuracy, table.nodes, (1:S)']);
  best = order(1);
  table.best(best) = true;

  warning(state);
  model = sphnet_fit(X, y, fit_options{:}, 'Rmax', R(best), 'Margin', M(best));
  if nargout == 0
    print_table(table, opts, N);
    clear model
  end
end

function opts = parse_options(args)
  opts = struct('rmax', [], 'margin', 0, 'folds', 5, 'seed', 1, 'norm', 2, ...
                'standardize', false, 'verbose', false);
  opts = option_pairs('tune', args, opts, @check_option, ['Rmax, Margin, Folds, Seed, Norm, ' ...
                      'Standardize and Verbose'], false);
  opts.standardize = logical(opts.standardize);
  opts.verbose = logical(opts.verbose);
end

% One option's value (see option_pairs), kept as a full double row.
function [ok, expected, field, value] = check_option(name, value)
  numbers = @(v) (isnumeric(v) || islogical(v)) && isreal(v) && ~isempty(v) && isvector(v) && ~any(isnan(v));
  scalar = @(v) numbers(v) && isscalar(v);
  whole = @(v) scalar(v) && isfinite(v) && v == round(v);
  ok = false;
  expected = '';
  field = name;
  switch name
    case 'rmax'
      ok = numbers(value) && all(value >= 0);
      expected = 'a vector of numbers >= 0';
    case 'margin'
      ok = numbers(value) && all(value >= 0 & isfinite(value));
      expected = 'a vector of finite numbers >= 0';
    case 'folds'
      ok = whole(value) && value >= 2;
      expected = 'a whole number >= 2';
    case 'seed'
      ok = whole(value) && value >= 0;
      expected = 'a whole number >= 0';
    case 'norm'
      ok = scalar(value) && value >= 1;
      expected = 'a number >= 1 (Inf allowed)';
    case {'standardize', 'verbose'}
      ok = scalar(value) && (value == 0 || value == 1);
      expected = 'true or false';
    otherwise
      field = '';
  end
  if ok
    value = full(double(value(:)'));
  end
end

% Each class's rows, shuffled, dealt to the folds in turn; the dealing goes on from class to
% class so that the folds' sizes differ by at most one. The generator's state is restored.
function folds = stratified_folds(classIdx, F, seed)
  saved = rand('twister');
  rand('twister', seed);
  folds = zeros(numel(classIdx), 1);
  next = 0;
  for c = 1:max(classIdx)
    members = find(classIdx == c);
    members = members(randperm(numel(members)));
    folds(members) = mod(next + (0:numel(members) - 1)', F) + 1;
    next = mod(next + numel(members), F);
  end
  rand('twister', saved);
end

function same = same_labels(labels, truth)
  if iscell(truth)
    same = strcmp(labels, truth);
  elseif ischar(truth)
    same = strcmp(cellstr(labels), cellstr(truth));
  else
    same = labels == truth;
  end
end

function print_table(table, opts, N)
  scaling = {'', ', standardized'};
  printf('%d-fold cross-validation (stratified, seed %d) of %d patterns, norm %g%s\n', ...
         opts.folds, opts.seed, N, opts.norm, scaling{1 + opts.standardize});
  printf('      Rmax    Margin  accuracy   std    nodes  uncertain  unknown\n');
  marks = ' *';
  for s = 1:numel(table.rmax)
    printf('%c %8.4g  %8.4g   %5.1f%%  %5.1f%%  %7.1f     %5.1f%%   %5.1f%%\n', marks(1 + table.best(s)), ...
           table.rmax(s), table.margin(s), 100 * table.accuracy(s), 100 * table.spread(s), ...
           table.nodes(s), 100 * table.uncertain(s), 100 * table.unknown(s));
  end
  printf('* chosen: highest mean accuracy (ties: fewer nodes)\n');
end

%!shared X, y
%! D = csvread(fullfile(fileparts(which('sphnet_tune')), 'data', 'iris.csv'));
%! X = D(:, 1:4);
%! y = D(:, 5);

%!test
%! ## Each row of the table against the folds it reports; the model is the best setting's fit
%! ## on all data; the default grid multiplies the automatic Rmax.
%! [model, table, folds] = sphnet_tune(X, y, 'Standardize', true, 'Margin', [0 0.05], 'Folds', 4);
%! auto = sphnet_fit(X, y, 'Standardize', true).rmax;
%! assert(table.rmax, repmat([0.25; 0.5; 1; 2; 4] * auto, 2, 1));
%! assert(table.margin, kron([0; 0.05], ones(5, 1)));
%! s = 7;
%! status = {};
%! for f = 1:4
%!   m = sphnet_fit(X(folds ~= f, :), y(folds ~= f), 'Standardize', true, 'Rmax', table.rmax(s), 'Margin', 0.05);
%!   [labels, info] = sphnet_predict(m, X(folds == f, :));
%!   assert(table.foldAccuracy(s, f), mean(labels == y(folds == f)));
%!   nodes(f) = rows(m.centres);
%!   status = [status; info.status];
%! end
%! assert([table.accuracy(s), table.spread(s), table.nodes(s)], [mean(table.foldAccuracy(s, :)), std(table.foldAccuracy(s, :)), mean(nodes)]);
%! assert([table.uncertain(s), table.unknown(s)], [mean(strcmp(status, 'uncertain')), mean(strcmp(status, 'unknown'))]);
%! best = find(table.best);
%! assert(numel(best) == 1 && table.accuracy(best) == max(table.accuracy));
%! assert(model, sphnet_fit(X, y, 'Standardize', true, 'Rmax', table.rmax(best), 'Margin', table.margin(best)));

%!test
%! ## Folds: each class spread evenly, sizes within one; the same seed gives the same folds
%! ## whatever the random generator's state, and leaves that state alone.
%! labels = {'a'; 'b'; 'c'}(y);
%! rand('twister', 5);
%! before = rand('twister');
%! [~, ~, folds] = sphnet_tune(X, labels, 'Rmax', 1, 'Folds', 7, 'Seed', 3);
%! assert(rand('twister'), before);
%! counts = accumarray([y, folds], 1);
%! assert(max(counts, [], 2) - min(counts, [], 2) <= 1);
%! assert(max(sum(counts)) - min(sum(counts)) <= 1);
%! rand('twister', 9);
%! [~, ~, again] = sphnet_tune(X, char(labels), 'Rmax', 1, 'Folds', 7, 'Seed', 3);
%! [~, ~, other] = sphnet_tune(X, labels, 'Rmax', 1, 'Folds', 7, 'Seed', 4);
%! assert(isequal(folds, again) && ~isequal(folds, other));

%!test
%! ## Verbose: a line per setting with its fold accuracies; no outputs: the printed table.
%! shown = evalc('sphnet_tune(X, y, ''Rmax'', [0.5 1], ''Folds'', 3, ''Verbose'', true)');
%! lines = strsplit(strtrim(shown), "\n");
%! assert(numel(lines), 2 + 2 + 2 + 1);
%! assert(numel(regexp(lines{1}, '\d%', 'match')), 4);
%! assert(numel(regexp(shown, '^[ *] +[\d.]+ +0 +[\d.]+%', 'lineanchors')), 2);

%!error id=sphnet:tune:badOption sphnet_tune(X, y, 'Grid', 1)
%!error id=sphnet:tune:badOption sphnet_tune(X, y, 'Rmax')
%!error id=sphnet:tune:badOptionValue sphnet_tune(X, y, 'Rmax', {1})
%!error id=sphnet:tune:badOptionValue sphnet_tune(X, y, 'Margin', [0 Inf])
%!error id=sphnet:tune:badOptionValue sphnet_tune(X, y, 'Folds', 1)
%!error id=sphnet:tune:badOptionValue sphnet_tune(X, y, 'Folds', 151)
%!error id=sphnet:tune:badOptionValue sphnet_tune(X, y, 'Seed', -1)
%!error id=sphnet:tune:badOptionValue sphnet_tune(X, y, 'Standardize', 'yes')
