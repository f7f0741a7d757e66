function model = sphnet_fit(X, y, varargin)
% SPHNET_FIT  Train an RCE sphere network and return it as a model.
%   MODEL = SPHNET_FIT(X, Y) trains on the rows of X (N x n) with class labels Y and returns a
%   model for SPHNET_PREDICT:
%
%     D = csvread('data/iris.csv');  X = D(:, 1:4);  y = D(:, 5);
%     model = sphnet_fit(X, y, 'Standardize', true);
%     labels = sphnet_predict(model, X);
%     mean(labels == y)                    % share of the training patterns labelled right
%
%   X    any real numeric or logical matrix, full or sparse, finite; it is used as double.
%   Y    N labels: a numeric or logical vector, a char matrix (one label per row) or a cell
%        array of strings. The classes are unique(Y), sorted; the network is trained on their
%        numbers 1..K, so any labels work, fractional ones too. Predictions come back in the
%        type of Y.
%
%   MODEL = SPHNET_FIT(X, Y, Name, Value, ...) with options (names in any case):
%     'Norm'        order p of the Minkowski distance, p >= 1 (Inf: maximum). Default 2.
%     'Rmax'        radius of a new node before conflicts shrink it, >= 0, or
%                   'auto' (default): half the median distance between the rows of the
%                   (standardised) training data, measured on at most 500 of them, rows
%                   round(linspace(1, N, min(N, 500))), all pairs. When that is not a positive
%                   finite number (all rows equal, or N < 2), Rmax is 1. Inf, as SPHNET_LEARN
%                   reads it: a new node covers everything until conflicts shrink it (not
%                   with 'Start').
%     'Margin'      gap kept between spheres of different classes, finite and >= 0. Default 0.
%                   Keep it well below Rmax (a warning says when Margin exceeds Rmax: the two
%                   are easily swapped) and below the spacing of the classes: patterns of
%                   different classes closer than Margin make nodes of negative radius.
%     'MaxPasses'   most passes over the data, a whole number >= 1 (Inf allowed). Default 50.
%     'Standardize' true: scale each column to mean 0 and standard deviation 1 (N - 1
%                   normalisation; a constant column keeps scale 1) with the training data's
%                   statistics, stored in the model and applied by SPHNET_PREDICT. Default false.
%     'Start'       a model to go on from: its nodes come first, in their order, and the new
%                   patterns are presented against them exactly as if training had made them
%                   (conflicts may shrink them). Its norm, standardisation and class list are
%                   kept (a 'Norm' or 'Standardize' that differs is an error); its Rmax and
%                   Margin are the defaults, which 'Rmax' and 'Margin' may override. Classes
%                   new in Y are appended after the model's classes; Y must be of the same type.
%     'Verbose'     true: one line per pass while training runs (pass, nodes, patterns that
%                   made a node in that pass, i.e. were still uncovered, seconds). Default false.
%
%   MODEL is a struct:
%     kind, version  'sphnet model', 1
%     norm, rmax, margin   the distance order, Rmax and margin used
%     centres       M x n node centres (in standardised units when standardize is set)
%     radii         M x 1 radii; a negative radius covers nothing
%     nodeClass     M x 1 class numbers: node j has label classes(nodeClass(j))
%     labels        node labels in the type of Y (M x 1; char: M rows)
%     classes       the classes, sorted (with 'Start': the start model's, then the new ones)
%     standardize   [] or a struct with fields mu and sigma (1 x n)
%     summary       passes (list presentations, the confirming pass of a converged run not
%                   counted, as SPHNET_LEARN reports them), converged, nodesPerClass (K x 1,
%                   aligned with classes), negativeRadii (nodes of negative radius)
%
%   Warnings: sphnet:fit:notConverged (the pass limit ended training),
%   sphnet:fit:negativeRadius (training made nodes of negative radius),
%   sphnet:fit:marginExceedsRmax (Margin > 0 and Rmax < Margin),
%   sphnet:fit:tinyScale (the median distance the automatic Rmax measures, or the Rmax given,
%   is below 1e-4: within a factor 1e4 of the 1e-8 coverage tolerance; 'Standardize' helps).
%   Errors: sphnet:fit:badX (also X without rows or columns), sphnet:fit:nonFiniteX,
%   sphnet:fit:badLabels, sphnet:fit:labelCount, sphnet:fit:badOption (names: not a string,
%   unknown, without value), sphnet:fit:badOptionValue (wrong type, size or range),
%   sphnet:fit:badStart, sphnet:fit:startConflict, sphnet:fit:wrongColumns,
%   sphnet:fit:infiniteStart (Start with Rmax Inf or with nodes of infinite radius).
%
%   The model's nodes are the same as those of SPHNET_LEARN on the class numbers (on the
%   standardised data, when asked); SPHNET_PREDICT gives the labels SPHNET_RECALL gives.
%
%   See also SPHNET_PREDICT, SPHNET_LEARN, SPHNET_RECALL.

  if nargin < 2
    error('sphnet:fit:badX', 'sphnet_fit: X and Y are required.');
  end
  X = as_double_matrix(X);
  [N, n] = size(X);
  opts = parse_options(varargin);
  start = opts.start;
  if ~isempty(start)
    check_start(start, n, opts);
    opts.norm = start.norm;
  end
  [classes, classIdx] = class_numbers(y, N, start);

  if ~isempty(start)
    standardize = start.standardize;
  elseif opts.standardize
    [mu, sigma] = sphnet_engine('statistics', X, opts.norm);
    standardize = struct('mu', mu, 'sigma', sigma);
  else
    standardize = [];
  end
  if ~isempty(standardize)
    X = (X - standardize.mu) ./ standardize.sigma;
  end

  if ~ischar(opts.rmax)
    if opts.rmax < tiny_scale
      warn_tiny_scale(sprintf('Rmax (%g)', opts.rmax));
    end
  elseif ~isempty(start)
    opts.rmax = start.rmax;
  else
    [~, ~, opts.rmax, typical, spread] = sphnet_engine('statistics', X, opts.norm);
    if typical > 0 && typical < tiny_scale
      warn_tiny_scale(sprintf('the data''s typical distance (%g)', typical));
    elseif typical == 0 && spread > 0 && spread < tiny_scale
      % Most sampled rows are equal and the others lie within a tiny distance of them.
      warn_tiny_scale(sprintf('the data''s spread (%g)', spread));
    end
  end
  if isempty(opts.margin)
    opts.margin = 0;
    if ~isempty(start)
      opts.margin = start.margin;
    end
  end
  if opts.margin > 0 && opts.rmax < opts.margin
    warning('sphnet:fit:marginExceedsRmax', ...
            ['sphnet_fit: Margin (%g) exceeds Rmax (%g); were they swapped? Margin is the gap ' ...
             'kept between spheres of different classes and should be well below Rmax.'], ...
            opts.margin, opts.rmax);
  end

  startNodes = [];
  startClass = [];
  negativeBefore = 0;
  if ~isempty(start)
    startNodes = [start.centres, start.radii];
    startClass = start.nodeClass;
    negativeBefore = sum(start.radii < 0);
    if ~all(isfinite(start.radii)) || opts.rmax == Inf
      error('sphnet:fit:infiniteStart', ['sphnet_fit: training cannot go on from a Start model ' ...
            'with Rmax Inf or nodes of infinite radius.']);
    end
  end
  if opts.rmax == Inf
    % The engine takes a finite Rmax only; the classic trainer reads Inf as spheres that cover
    % everything until conflicts shrink them. Without start nodes both run the same procedure.
    [nodes, nodeClass, passes] = sphnet_learn(X, classIdx, opts.norm, Inf, opts.margin, ...
                                              opts.maxPasses, double(opts.verbose));
    converged = passes < opts.maxPasses;
  else
    [nodes, nodeClass, passes, converged] = sphnet_engine('train', X, classIdx, opts.norm, ...
        opts.rmax, opts.margin, opts.maxPasses, double(opts.verbose), startNodes, startClass);
  end

  K = class_count(classes);
  model.kind = 'sphnet model';
  model.version = 1;
  model.norm = opts.norm;
  model.rmax = opts.rmax;
  model.margin = opts.margin;
  model.centres = nodes(:, 1:n);
  model.radii = nodes(:, n + 1);
  model.nodeClass = nodeClass;
  model.labels = rows_of(classes, nodeClass);
  model.classes = classes;
  model.standardize = standardize;
  model.summary = struct('passes', passes, 'converged', converged == 1, ...
                         'nodesPerClass', accumarray(nodeClass, 1, [K, 1]), ...
                         'negativeRadii', sum(model.radii < 0));

  if ~converged
    warning('sphnet:fit:notConverged', ...
            ['sphnet_fit: training stopped at the pass limit (MaxPasses = %g) before a pass ' ...
             'made no node; raise ''MaxPasses'', or lower ''Margin'' if patterns of different ' ...
             'classes lie close together.'], opts.maxPasses);
  end
  if model.summary.negativeRadii > negativeBefore
    warning('sphnet:fit:negativeRadius', ...
            ['sphnet_fit: %d node(s) got a negative radius and cover nothing: patterns of ' ...
             'different classes lie within Margin (%g) of each other. Lower ''Margin''.'], ...
            model.summary.negativeRadii - negativeBefore, opts.margin);
  end
end

% Below this typical distance or Rmax, the 1e-8 coverage tolerance is within a factor 1e4 of
% the spheres' own size.
function t = tiny_scale()
  t = 1e-4;
end

function warn_tiny_scale(what)
  warning('sphnet:fit:tinyScale', ['sphnet_fit: %s is below 1e-4, within a factor 1e4 of the ' ...
          '1e-8 tolerance by which spheres cover patterns: that tolerance, not the radii, would ' ...
          'decide. Scale the data up or use ''Standardize'', true.'], what);
end

function X = as_double_matrix(X)
  if ~((isnumeric(X) || islogical(X)) && isreal(X) && ndims(X) == 2) || any(size(X) == 0)
    error('sphnet:fit:badX', ['sphnet_fit: X must be a real numeric or logical matrix with at ' ...
          'least one row and one column.']);
  end
  X = double(full(X));
  if ~all(isfinite(X(:)))
    error('sphnet:fit:nonFiniteX', 'sphnet_fit: X must not contain NaN or Inf.');
  end
end

function opts = parse_options(args)
  opts = struct('norm', 2, 'rmax', 'auto', 'margin', [], 'maxPasses', 50, ...
                'standardize', false, 'start', [], 'verbose', false);
  opts = option_pairs('fit', args, opts, @check_option, ['Norm, Rmax, Margin, MaxPasses, ' ...
                      'Standardize, Start and Verbose'], true);
  opts.given = cellfun(@lower, args(1:2:end), 'UniformOutput', false);
  opts.standardize = logical(opts.standardize);
  opts.verbose = logical(opts.verbose);
end

% One option's value (see option_pairs): numbers and logicals are kept as full doubles.
function [ok, expected, field, value] = check_option(name, value)
  fields = struct('norm', 'norm', 'rmax', 'rmax', 'margin', 'margin', 'maxpasses', 'maxPasses', ...
                  'standardize', 'standardize', 'verbose', 'verbose', 'start', 'start');
  ok = false;
  expected = '';
  field = '';
  switch name
    case 'norm'
      ok = is_real_scalar(value) && value >= 1;
      expected = 'a number >= 1 (Inf allowed)';
    case 'rmax'
      ok = (ischar(value) && strcmpi(value, 'auto')) || (is_real_scalar(value) && value >= 0);
      expected = '''auto'' or a number >= 0 (Inf allowed)';
    case 'margin'
      ok = is_real_scalar(value) && isfinite(value) && value >= 0;
      expected = 'a finite number >= 0';
    case 'maxpasses'
      ok = is_real_scalar(value) && value >= 1 && value == round(value);
      expected = 'a whole number >= 1 (Inf allowed)';
    case {'standardize', 'verbose'}
      ok = is_flag(value);
      expected = 'true or false';
    case 'start'
      ok = (isstruct(value) && ~isempty(value)) || (isa(value, 'double') && isempty(value));
      expected = 'a model made by sphnet_fit, or []';
  end
  if isfield(fields, name)
    field = fields.(name);
  end
  if ok && (isnumeric(value) || islogical(value))
    value = full(double(value));
  end
end

function ok = is_real_scalar(value)
  ok = (isnumeric(value) || islogical(value)) && isreal(value) && isscalar(value) && ~isnan(value);
end

function ok = is_flag(value)
  ok = is_real_scalar(value) && (value == 0 || value == 1);
end

% A start model: sound (as SPHNET_PREDICT checks it), of n columns, and not contradicted.
function check_start(start, n, opts)
  try
    sphnet_predict(start, zeros(0, n));
  catch err
    if strcmp(err.identifier, 'sphnet:predict:wrongColumns')
      error('sphnet:fit:wrongColumns', 'sphnet_fit: X has %d columns, the Start model %d.', ...
            n, size(start.centres, 2));
    end
    error('sphnet:fit:badStart', 'sphnet_fit: Start is not a usable model (%s)', err.message);
  end
  if any(strcmp(opts.given, 'norm')) && opts.norm ~= start.norm
    error('sphnet:fit:startConflict', 'sphnet_fit: Norm %g differs from the Start model''s %g.', ...
          opts.norm, start.norm);
  end
  if any(strcmp(opts.given, 'standardize')) && opts.standardize ~= ~isempty(start.standardize)
    error('sphnet:fit:startConflict', ...
          'sphnet_fit: Standardize differs from the Start model''s; it keeps its own scaling.');
  end
end

% The class list and each label's number in it. With a start model its classes come first.
function [classes, idx] = class_numbers(y, N, start)
  if iscellstr(y)
    y = y(:);
    count = numel(y);
  elseif ischar(y)
    count = size(y, 1);
  elseif (isnumeric(y) || islogical(y)) && isreal(y) && isvector(y)
    y = full(y);
    if any(isnan(y))
      error('sphnet:fit:badLabels', 'sphnet_fit: Y must not contain NaN.');
    end
    y = y(:);
    count = numel(y);
  else
    error('sphnet:fit:badLabels', ['sphnet_fit: Y must be a real numeric or logical vector, ' ...
          'a char matrix or a cell array of strings.']);
  end
  if count ~= N
    error('sphnet:fit:labelCount', 'sphnet_fit: Y has %d labels for %d rows of X.', count, N);
  end
  rowwise = {};
  if ischar(y)
    rowwise = {'rows'};
  end
  found = unique(y, rowwise{:});
  if isempty(start)
    classes = found;
  else
    classes = start.classes;
    if ~strcmp(class(classes), class(y))
      error('sphnet:fit:badStart', 'sphnet_fit: Y is %s, the Start model''s classes are %s.', ...
            class(y), class(classes));
    end
    fresh = ~ismember(found, classes, rowwise{:});
    if ischar(y)
      classes = char(cellstr(classes), cellstr(found(fresh, :)));
    else
      classes = [classes; found(fresh)];
    end
  end
  [~, idx] = ismember(y, classes, rowwise{:});
  idx = double(idx(:));
end

function K = class_count(classes)
  if ischar(classes)
    K = size(classes, 1);
  else
    K = numel(classes);
  end
end

%!function [nodes, nodeClass, passes] = literal_train(nodes, nodeClass, X, c, p, Rmax, margin, maxPasses)
%!  ## The literal algorithm on a node list that starts with the given nodes.
%!  dist = @(a, b) sum(abs(a - b) .^ p) ^ (1 / p);
%!  passes = 0;
%!  do
%!    passes += 1;
%!    made = false;
%!    for k = 1:rows(X)
%!      r = Rmax;
%!      covered = false;
%!      for j = 1:rows(nodes)
%!        d = dist(nodes(j, 1:end-1), X(k, :));
%!        inside = !(d - 1e-8 > nodes(j, end));
%!        if nodeClass(j) == c(k)
%!          if inside
%!            covered = true;
%!            break;
%!          end
%!        elseif inside
%!          h = (d - margin) * 0.5;
%!          if r >= h
%!            nodes(j, end) = h;  r = h;
%!          else
%!            nodes(j, end) = (d - margin) - r;
%!          end
%!        elseif !(d >= r + (nodes(j, end) + margin))
%!          r = d - (nodes(j, end) + margin);
%!        end
%!      end
%!      if !covered
%!        nodes(end + 1, :) = [X(k, :), r];
%!        nodeClass(end + 1, 1) = c(k);
%!        made = true;
%!      end
%!    end
%!  until (!made || passes >= maxPasses)
%!  passes -= !made;
%!endfunction

%!function id = raised_by(varargin)
%!  ## The identifier of the error sphnet_fit raises with these arguments; '' for none.
%!  id = '';
%!  try
%!    sphnet_fit(varargin{:});
%!  catch err
%!    id = err.identifier;
%!  end
%!endfunction

%!shared X, y
%! X = [0 0; 0.2 0.1; 3 3; 3.1 2.9; 0.1 3; 0.2 3.1];
%! y = [1; 1; 2; 2; 3; 3];

%!test
%! ## The model's nodes are those of the classic trainer on the class numbers.
%! model = sphnet_fit(X, 10 * y, 'Rmax', 1.5, 'Margin', 0.1);
%! [N, NL, Pr] = sphnet_learn(X, y, 2, 1.5, 0.1, 50, 0);
%! assert([model.centres, model.radii], N);
%! assert(model.nodeClass, NL);
%! assert(model.labels, 10 * NL);
%! assert(model.classes, [10; 20; 30]);
%! assert(model.summary.passes, Pr);
%! assert(model.summary.converged);
%! assert(model.summary.nodesPerClass, accumarray(NL, 1, [3 1]));
%! assert(isempty(model.standardize));
%! assert(model.kind, 'sphnet model');

%!test
%! ## Rmax 'auto': half the median pairwise distance of the rows (all of them here), in the
%! ## model's norm; 1 when every row is the same.
%! for p = [1, 1.5, Inf]
%!   for P = {X, [0 0; 1 0; 0 3; 7 1]}  # 15 and 6 distances: odd and even counts
%!     D = [];
%!     for i = 1:rows(P{1})
%!       for j = i + 1:rows(P{1})
%!         D(end + 1) = norm(P{1}(i, :) - P{1}(j, :), p);
%!       end
%!     end
%!     assert(sphnet_fit(P{1}, (1:rows(P{1}))', 'Norm', p).rmax, 0.5 * median(D), 1e-12);
%!   end
%! end
%! assert(sphnet_fit(ones(4, 2), [1; 1; 2; 2]).rmax, 1);
%! assert(sphnet_fit([1 2], 1).rmax, 1);
%! ## At most 500 evenly spaced rows are measured: rows past them do not count.
%! big = [(1:600)', zeros(600, 1)];
%! picked = big(round(linspace(1, 600, 500)), 1);
%! gaps = abs(picked - picked');
%! assert(sphnet_fit(big, ones(600, 1), 'MaxPasses', 1).rmax, 0.5 * median(gaps(triu(true(500), 1))));

%!test
%! ## Standardize: a constant column becomes 0, never NaN; the scaling is stored and training
%! ## sees the scaled data.
%! Xc = [X, 7 * ones(rows(X), 1)];
%! model = sphnet_fit(Xc, y, 'Standardize', true, 'Rmax', 1);
%! assert(model.standardize.sigma(3), 1);
%! assert(model.standardize.mu, mean(Xc));
%! Z = (Xc - mean(Xc)) ./ [std(Xc(:, 1:2)), 1];
%! [N, NL, ~] = sphnet_learn(Z, y, 2, 1, 0, 50, 0);
%! assert([model.centres, model.radii], N);
%! assert(all(isfinite(model.centres(:))));

%!test
%! ## Labels of any type train the same network and come back in their own type.
%! names = {'setosa'; 'setosa'; 'versi'; 'versi'; 'virg'; 'virg'};
%! for labels = {int8(y - 2), logical(y > 1), names, char(names), y + 0.5, single(y)}
%!   model = sphnet_fit(X, labels{1});
%!   ref = sphnet_fit(X, merge(islogical(labels{1}), 1 + (y > 1), y));
%!   assert([model.centres, model.radii], [ref.centres, ref.radii]);
%!   assert(class(model.classes), class(labels{1}));
%!   assert(sphnet_predict(model, X), labels{1});
%! end

%!test
%! ## X of any real numeric class, logical or sparse gives the same model as its double.
%! ref = sphnet_fit(round(X), y, 'Rmax', 1);
%! for Xi = {int16(round(X)), single(round(X)), sparse(round(X)), uint8(round(X))}
%!   model = sphnet_fit(Xi{1}, y, 'Rmax', 1);
%!   assert([model.centres, model.radii], [ref.centres, ref.radii]);
%! end
%! assert(sphnet_fit(X > 1, y), sphnet_fit(double(X > 1), y));

%!test
%! ## Start: the start model's nodes come first and the new patterns meet them exactly as the
%! ## literal algorithm does with that node list (here one node of the start is shrunk).
%! A = sphnet_fit(X(1:4, :), y(1:4), 'Rmax', 2);
%! B = [0.5 0.5; 2.5 2.5; 0.1 2.8];
%! yB = [3; 1; 3];
%! model = sphnet_fit(B, yB, 'Start', A);
%! [nodes, nodeClass] = literal_train([A.centres, A.radii], A.nodeClass, B, [3; 1; 3], 2, 2, 0, 50);
%! assert([model.centres, model.radii], nodes);
%! assert(model.nodeClass, nodeClass);
%! assert(model.radii(1) < A.radii(1));
%! assert(model.classes, [1; 2; 3]);
%! assert(model.rmax, A.rmax);
%! ## New classes are appended after the old ones, even when they sort first.
%! C = sphnet_fit([9 9], 0, 'Start', A);
%! assert(C.classes, [1; 2; 0]);
%! assert(C.nodeClass(end), 3);
%! ## The start model's scaling is applied to the new data.
%! S = sphnet_fit(X, y, 'Standardize', true);
%! T = sphnet_fit(X(1:2, :), y(1:2), 'Start', S);
%! assert(T.standardize, S.standardize);
%! assert([T.centres, T.radii], [S.centres, S.radii]);

%!test
%! ## A random continuation in three dimensions, with conflicts and a margin.
%! rand('seed', 7);
%! P = rand(60, 3);  c = 1 + floor(3 * rand(60, 1));
%! A = sphnet_fit(P(1:30, :), c(1:30), 'Rmax', 0.4, 'Margin', 0.01, 'Norm', 1);
%! model = sphnet_fit(P(31:end, :), c(31:end), 'Start', A);
%! [nodes, nodeClass, passes] = literal_train([A.centres, A.radii], A.nodeClass, P(31:end, :), c(31:end), 1, 0.4, 0.01, 50);
%! assert([model.centres, model.radii], nodes);
%! assert(model.nodeClass, nodeClass);
%! assert(model.summary.passes, passes);

%!warning <swapped> sphnet_fit(X, y, 'Rmax', 0.1, 'Margin', 1);

%!test
%! ## Which warnings each call gives: each identifier in turn is made an error, the others off.
%! ids = {'sphnet:fit:negativeRadius', 'sphnet:fit:marginExceedsRmax', 'sphnet:fit:notConverged'};
%! state = warning();
%! restore = onCleanup(@() warning(state));
%! cases = {{[0; 0.1], [1; 2], 'Margin', 0.5, 'Rmax', 1}, [1 0 1];
%!          {[0; 5], [1; 2], 'Rmax', 0.1, 'Margin', 1}, [0 1 0];
%!          {X, y, 'MaxPasses', 1}, [0 0 1];
%!          {X, y}, [0 0 0]};
%! for k = 1:rows(cases)
%!   for w = 1:numel(ids)
%!     cellfun(@(id) warning('off', id), ids);
%!     warning('error', ids{w});
%!     assert(strcmp(raised_by(cases{k, 1}{:}), ids{w}) == (cases{k, 2}(w) == 1), ...
%!            sprintf('case %d, %s', k, ids{w}));
%!   end
%! end

%!error id=sphnet:fit:badX sphnet_fit({1}, 1)
%!error id=sphnet:fit:badX sphnet_fit(zeros(0, 2), [])
%!error id=sphnet:fit:badX sphnet_fit([1i 2], 1)
%!error id=sphnet:fit:nonFiniteX sphnet_fit([NaN 1], 1)
%!error id=sphnet:fit:badLabels sphnet_fit([1; 2], [1; NaN])
%!error id=sphnet:fit:badLabels sphnet_fit([1; 2], {1; 2})
%!error id=sphnet:fit:labelCount sphnet_fit([1; 2], [1; 2; 3])
%!error id=sphnet:fit:badOption sphnet_fit([1; 2], [1; 2], 'Radius', 1)
%!error id=sphnet:fit:badOption sphnet_fit([1; 2], [1; 2], 'Norm')
%!error id=sphnet:fit:badOptionValue sphnet_fit([1; 2], [1; 2], 'Norm', 0.5)
%!error id=sphnet:fit:badOptionValue sphnet_fit([1; 2], [1; 2], 'Rmax', -1)
%!error id=sphnet:fit:badOptionValue sphnet_fit([1; 2], [1; 2], 'Rmax', 'big')
%!error id=sphnet:fit:badOptionValue sphnet_fit([1; 2], [1; 2], 'Margin', Inf)
%!error id=sphnet:fit:badOptionValue sphnet_fit([1; 2], [1; 2], 'MaxPasses', 1.5)
%!error id=sphnet:fit:badOptionValue sphnet_fit([1; 2], [1; 2], 'Standardize', 2)
%!error id=sphnet:fit:badStart sphnet_fit([1; 2], [1; 2], 'Start', struct('a', 1))
%!error id=sphnet:fit:badStart sphnet_fit([1; 2], {'a'; 'b'}, 'Start', sphnet_fit([1; 2], [1; 2]))
%!error id=sphnet:fit:wrongColumns sphnet_fit([1 2], 1, 'Start', sphnet_fit([1; 2], [1; 2]))
%!error id=sphnet:fit:startConflict sphnet_fit([1; 2], [1; 2], 'Norm', 1, 'Start', sphnet_fit([1; 2], [1; 2]))
%!error id=sphnet:fit:startConflict sphnet_fit([1; 2], [1; 2], 'Standardize', true, 'Start', sphnet_fit([1; 2], [1; 2]))

%!error id=sphnet:fit:badX sphnet_fit(zeros(5, 0), (1:5)')
%!error id=sphnet:fit:badOption sphnet_fit([1; 2], [1; 2], {'Norm'}, 2)
%!error id=sphnet:fit:badOption sphnet_fit([1; 2], [1; 2], 2, 2)
%!error id=sphnet:fit:badOptionValue sphnet_fit([1; 2], [1; 2], 'Start', {})
%!error id=sphnet:fit:infiniteStart sphnet_fit([1; 2], [1; 2], 'Start', sphnet_fit([1; 2], [1; 1], 'Rmax', Inf))

%!test
%! ## A value of the wrong type, size or range ends in badOptionValue for every option, never
%! ## in an error of Octave's own; numeric classes, logical and sparse scalars are read as double.
%! wrong = {{1}, struct('a', 1), 'big', 1i, [], NaN, [1 2], @sin, -Inf};
%! for name = {'Norm', 'Rmax', 'Margin', 'MaxPasses', 'Standardize', 'Verbose'}
%!   for k = 1:numel(wrong)
%!     try
%!       sphnet_fit(X, y, name{1}, wrong{k});
%!       error('accepted');
%!     catch err
%!       assert(err.identifier, 'sphnet:fit:badOptionValue', sprintf('%s, value %d: %s', name{1}, k, err.message));
%!     end
%!   end
%! end
%! odd = sphnet_fit(X, y, 'norm', single(3), "RMAX", sparse(1.5), 'Margin', int8(0), ...
%!                  'MaxPasses', uint8(50), 'Standardize', 0, 'Verbose', false);
%! assert(odd, sphnet_fit(X, y, 'Norm', 3, 'Rmax', 1.5));

%!test
%! ## Rmax Inf reads as in the classic trainer: a new node covers everything until conflicts
%! ## shrink it.
%! [N, NL, Pr] = sphnet_learn(X, y, 2, Inf, 0.1, 50, 0);
%! model = sphnet_fit(X, y, 'Rmax', Inf, 'Margin', 0.1);
%! assert([model.centres, model.radii], N);
%! assert([model.nodeClass; model.summary.passes], [NL; Pr]);
%! assert(model.summary.converged && model.rmax == Inf);
%! assert(sphnet_fit(X, ones(6, 1), 'Rmax', Inf).radii, Inf);

%!test
%! ## tinyScale: data whose typical distance, or an Rmax, is below 1e-4 warns, unless
%! ## standardising rescales the data first.
%! state = warning();
%! restore = onCleanup(@() warning(state));
%! warning('error', 'sphnet:fit:tinyScale');
%! cases = {{1e-6 * X, y}, true; {X, y, 'Rmax', 5e-5}, true; {1e-6 * X, y, 'Standardize', true}, false;
%!          {1e-3 * X, y}, false; {[X; X; X], [y; y; y]}, false; {1e-200 * X, y}, true};
%! for k = 1:rows(cases)
%!   assert(strcmp(raised_by(cases{k, 1}{:}), 'sphnet:fit:tinyScale') == cases{k, 2}, sprintf('case %d', k));
%! end
%!warning <below 1e-4.*1e-8 tolerance.*'Standardize'> sphnet_fit(1e-6 * X, y);

%!test
%! ## Every shipped data set works with no options: train on every other row, predict the rest.
%! here = fileparts(which('sphnet_fit'));
%! for name = {'iris', 'wine', 'breast_cancer', 'digits'}
%!   D = csvread(fullfile(here, 'data', [name{1} '.csv']));
%!   train = 1:2:rows(D);
%!   test = 2:2:rows(D);
%!   model = sphnet_fit(D(train, 1:end-1), D(train, end));
%!   labels = sphnet_predict(model, D(test, 1:end-1));
%!   chance = max(accumarray(D(test, end) - min(D(:, end)) + 1, 1)) / numel(test);
%!   assert(mean(labels == D(test, end)) > chance + 0.2 * (1 - chance), name{1});
%! end
