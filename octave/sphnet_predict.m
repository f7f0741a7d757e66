function [labels, info] = sphnet_predict(model, X, varargin)
% SPHNET_PREDICT  Label patterns with a model from SPHNET_FIT.
%   LABELS = SPHNET_PREDICT(MODEL, X) labels each row of X (P x n, any real numeric or logical
%   class, full or sparse, finite) with the label of the first node, in node order, whose
%   sphere covers it (distance at most radius + 1e-8); a row that no node covers gets the label
%   of the nearest node (the first of equally near ones). The model's norm and standardisation
%   are applied. LABELS has the type of the labels the model was trained with: P x 1, or P rows
%   of a char matrix. They are the labels SPHNET_RECALL gives with the same nodes.
%
%     D = csvread('data/wine.csv');  X = D(:, 1:end-1);  y = D(:, end);
%     model = sphnet_fit(X(1:2:end, :), y(1:2:end), 'Standardize', true);
%     [labels, info] = sphnet_predict(model, X(2:2:end, :), 'Fallback', 'unknown');
%     mean(labels == y(2:2:end))           % accuracy, counting unknown as wrong
%     mean(strcmp(info.status, 'unknown')) % share of rows no node covers
%
%   Options (names in any case):
%     'Fallback'      'nearest' (default): uncovered rows take the nearest node's label;
%                     'unknown': they take UnknownLabel.
%     'UnknownLabel'  the label for rows no node decides. Default: NaN for double or single
%                     labels, -1 for signed integer labels, 0 for unsigned ones, false for
%                     logical labels, '' for char and cell labels.
%
%   INFO is a struct of P x 1 fields:
%     node        number of the node that decided the label (row of model.centres); 0: none
%     distance    distance to that node (in standardised units when standardized); NaN: none
%     covered     true where some node covers the row
%     coverCount  how many nodes cover the row
%     status      cell of strings: 'identified' (covered, and all covering nodes have one
%                 label), 'uncertain' (covering nodes have different labels), 'unknown' (no
%                 node covers the row)
%
%   Errors: sphnet:predict:badModel, sphnet:predict:badX, sphnet:predict:nonFiniteX,
%   sphnet:predict:wrongColumns, sphnet:predict:badOption, sphnet:predict:badOptionValue.
%
%   See also SPHNET_FIT, SPHNET_RECALL.

  if nargin < 2
    error('sphnet:predict:badX', 'sphnet_predict: MODEL and X are required.');
  end
  check_model(model);
  n = size(model.centres, 2);
  if ~((isnumeric(X) || islogical(X)) && isreal(X) && ndims(X) == 2)
    error('sphnet:predict:badX', 'sphnet_predict: X must be a real numeric or logical matrix.');
  end
  if size(X, 2) ~= n
    error('sphnet:predict:wrongColumns', 'sphnet_predict: X has %d columns, the model %d.', ...
          size(X, 2), n);
  end
  X = double(full(X));
  if ~all(isfinite(X(:)))
    error('sphnet:predict:nonFiniteX', 'sphnet_predict: X must not contain NaN or Inf.');
  end
  [nearest, unknown] = parse_options(varargin, model.classes);
  if ~isempty(model.standardize)
    X = (X - model.standardize.mu) ./ model.standardize.sigma;
  end

  nodes = [model.centres, model.radii];
  if nargout > 1
    [classIdx, node, distance, coverCount, disagree] = ...
        sphnet_engine('recall', nodes, model.nodeClass, model.norm, X, double(nearest));
    status = repmat({'identified'}, size(X, 1), 1);
    status(disagree == 1) = {'uncertain'};
    status(coverCount == 0) = {'unknown'};
    info = struct('node', node, 'distance', distance, 'covered', coverCount > 0, ...
                  'coverCount', coverCount, 'status', {status});
  else
    classIdx = sphnet_engine('recall', nodes, model.nodeClass, model.norm, X, double(nearest));
  end

  decided = classIdx > 0;
  classes = model.classes;
  if ischar(classes)
    labels = cell(size(X, 1), 1);
    labels(decided) = cellstr(classes(classIdx(decided), :));
    labels(~decided) = {unknown};
    labels = char(labels{:});
    if size(X, 1) == 0
      labels = classes([], :);
    end
  else
    if iscell(classes)
      labels = repmat({unknown}, size(X, 1), 1);
    else
      labels = repmat(cast(unknown, class(classes)), size(X, 1), 1);
    end
    labels(decided) = classes(classIdx(decided));
  end
end

function [nearest, unknown] = parse_options(args, classes)
  if ischar(classes) || iscell(classes)
    unknown = '';
  elseif islogical(classes)
    unknown = false;
  elseif isfloat(classes)
    unknown = NaN;
  elseif intmin(class(classes)) < 0
    unknown = -1;
  else
    unknown = 0;
  end
  opts = option_pairs('predict', args, struct('nearest', true, 'unknown', unknown), ...
                      @(name, value) check_option(name, value, classes), ...
                      'Fallback and UnknownLabel', false);
  nearest = opts.nearest;
  unknown = opts.unknown;
end

% One option's value (see option_pairs).
function [ok, expected, field, value] = check_option(name, value, classes)
  ok = false;
  expected = '';
  field = '';
  switch name
    case 'fallback'
      ok = ischar(value) && rows(value) == 1 && any(strcmpi(value, {'nearest', 'unknown'}));
      value = ok && strcmpi(value, 'nearest');
      expected = '''nearest'' or ''unknown''';
      field = 'nearest';
    case 'unknownlabel'
      if ischar(classes) || iscell(classes)
        ok = ischar(value) && rows(value) <= 1;
        expected = 'a string, as the labels are';
      else
        % A value the labels' class holds exactly: no silent rounding or saturation.
        ok = (isnumeric(value) || islogical(value)) && isreal(value) && isscalar(value) && ...
             ((isfloat(classes) && isnan(value)) || (~isnan(value) && ...
                                                      isequal(cast(full(value), class(classes)), value)));
        expected = sprintf('a scalar that a %s label can hold', class(classes));
        if ok
          value = cast(full(value), class(classes));
        end
      end
      field = 'unknown';
  end
end

% A model as SPHNET_FIT makes it, with consistent sizes and usable values.
function check_model(model)
  fields = {'kind', 'version', 'norm', 'rmax', 'margin', 'centres', 'radii', 'nodeClass', ...
            'labels', 'classes', 'standardize', 'summary'};
  if ~(isstruct(model) && isscalar(model) && all(isfield(model, fields)) && ...
       ischar(model.kind) && strcmp(model.kind, 'sphnet model') && isequal(model.version, 1))
    error('sphnet:predict:badModel', 'sphnet_predict: MODEL must be a model made by sphnet_fit.');
  end
  c = model.centres;
  r = model.radii;
  idx = model.nodeClass;
  classes = model.classes;
  [M, n] = size(c);
  s = model.standardize;
  real_double = @(v) isa(v, 'double') && isreal(v) && ~issparse(v);
  number = @(v, low) real_double(v) && isscalar(v) && v >= low;  % NaN never is
  if ~(real_double(c) && ndims(c) == 2 && M >= 1 && n >= 1 && all(isfinite(c(:))))
    damaged('centres: a real double matrix of finite values, a row per node');
  end
  if ~(real_double(r) && isequal(size(r), [M, 1]) && ~any(isnan(r)))
    damaged('radii: a real double column, one per node, without NaN');
  end
  if ~(number(model.norm, 1) && number(model.rmax, 0) && number(model.margin, 0) && isfinite(model.margin))
    damaged('norm, rmax, margin: real double scalars, norm >= 1, rmax >= 0, margin finite >= 0');
  end
  if iscellstr(classes) && iscolumn(classes)
    K = numel(classes);
    distinct = numel(unique(classes)) == K;
  elseif ischar(classes) && ndims(classes) == 2
    K = rows(classes);
    distinct = rows(unique(cellstr(classes))) == K;
  elseif (isnumeric(classes) || islogical(classes)) && isreal(classes) && iscolumn(classes) && ~issparse(classes)
    K = numel(classes);
    distinct = ~any(isnan(classes)) && numel(unique(classes)) == K;
  else
    K = 0;
    distinct = false;
  end
  if ~(K >= 1 && distinct)
    damaged('classes: distinct labels in a column, a char matrix or a cell column of strings');
  end
  if ~(real_double(idx) && isequal(size(idx), [M, 1]) && all(idx == round(idx) & idx >= 1 & idx <= K))
    damaged('nodeClass: a class number 1..K per node');
  end
  if ischar(classes)
    expected = classes(idx, :);
  else
    expected = classes(idx);
  end
  if ~(strcmp(class(model.labels), class(classes)) && isequal(model.labels, expected))
    damaged('labels: the classes of the nodes');
  end
  if ~(isempty(s) && isa(s, 'double')) && ~(isstruct(s) && isscalar(s) && isfield(s, 'mu') && ...
       isfield(s, 'sigma') && real_double(s.mu) && real_double(s.sigma) && ...
       isequal(size(s.mu), [1, n]) && isequal(size(s.sigma), [1, n]) && ...
       all(isfinite(s.mu)) && all(isfinite(s.sigma) & s.sigma > 0))
    damaged('standardize: [] or mu and sigma, 1 x n each, finite, sigma > 0');
  end
  if ~(isstruct(model.summary) && isscalar(model.summary))
    damaged('summary: a struct');
  end
end

function damaged(what)
  error('sphnet:predict:badModel', 'sphnet_predict: MODEL is damaged; expected %s.', what);
end

%!shared model, X, y
%! X = [0 0; 0.2 0.1; 3 3; 3.1 2.9; 0.1 3; 0.2 3.1];
%! y = [1; 1; 2; 2; 3; 3];
%! model = sphnet_fit(X, y, 'Rmax', 2);

%!test
%! ## Labels are those of the classic recall with the same nodes, with either fallback.
%! rand('seed', 3);
%! P = 4 * rand(200, 2) - 0.5;
%! nodes = [model.centres, model.radii];
%! assert(sphnet_predict(model, P), sphnet_recall(nodes, model.nodeClass, 2, P, -1, 1, 0));
%! got = sphnet_predict(model, P, 'Fallback', 'unknown', 'UnknownLabel', -1);
%! assert(got, sphnet_recall(nodes, model.nodeClass, 2, P, -1, 0, 0));

%!test
%! ## Every info field against an exhaustive computation, in three norms, with overlapping
%! ## spheres of different classes (radii set by hand) so that 'uncertain' occurs.
%! rand('seed', 5);
%! for p = [1, 2.5, Inf]
%!   m = sphnet_fit(X, y, 'Rmax', 2, 'Norm', p);
%!   m.radii(:) = 2.5;
%!   P = 4 * rand(300, 2) - 0.5;
%!   for fallback = {'nearest', 'unknown'}
%!     [labels, info] = sphnet_predict(m, P, 'Fallback', fallback{1});
%!     for k = 1:rows(P)
%!       diffs = abs(m.centres - P(k, :));
%!       if p == Inf
%!         d = max(diffs, [], 2);
%!       else
%!         d = sum(diffs .^ p, 2) .^ (1 / p);
%!       end
%!       covers = !(d - 1e-8 > m.radii);
%!       node = find(covers, 1);
%!       if isempty(node) && strcmp(fallback{1}, 'nearest')
%!         [~, node] = min(d);
%!       end
%!       if isempty(node)
%!         assert([info.node(k), labels(k)], [0, NaN]);
%!         assert(isnan(info.distance(k)));
%!       else
%!         assert([info.node(k), labels(k)], [node, m.labels(node)]);
%!         assert(info.distance(k), d(node), 1e-12);
%!       end
%!       assert([info.coverCount(k), info.covered(k)], [sum(covers), any(covers)]);
%!       states = {'identified', 'uncertain', 'unknown'};
%!       assert(info.status{k}, states{1 + (numel(unique(m.nodeClass(covers))) > 1) + 2 * !any(covers)});
%!     end
%!   end
%!   assert(any(strcmp(info.status, 'uncertain')) && any(strcmp(info.status, 'unknown')));
%! end

%!test
%! ## Unknown labels by type, and the caller's own.
%! far = [50 50];
%! names = {'a'; 'a'; 'b'; 'b'; 'c'; 'c'};
%! expected = {int8(-1), uint16(0), false, NaN, single(NaN), '', {''}};
%! for t = 1:numel(expected)
%!   labels = {int8(y), uint16(y), y > 1, y, single(y), char(names), names}{t};
%!   m = sphnet_fit(X, labels);
%!   assert(sphnet_predict(m, far, 'Fallback', 'unknown'), expected{t});
%! end
%! m = sphnet_fit(X, names);
%! assert(sphnet_predict(m, [far; 0 0], 'Fallback', 'unknown', 'UnknownLabel', 'none'), {'none'; 'a'});
%! m = sphnet_fit(X, char(names));
%! assert(sphnet_predict(m, [far; 0 0], 'Fallback', 'unknown', 'UnknownLabel', 'none'), ['none'; 'a   ']);
%! assert(sphnet_predict(model, far, 'Fallback', 'unknown', 'UnknownLabel', 0), 0);

%!test
%! ## The model's scaling is applied; X may be sparse, single or an integer class.
%! m = sphnet_fit(100 * X, y, 'Standardize', true);
%! assert(sphnet_predict(m, 100 * X), y);
%! assert(sphnet_predict(m, sparse(100 * X)), y);
%! assert(sphnet_predict(m, single(100 * X)), y);
%! assert(sphnet_predict(m, int32(100 * X)), y);
%! assert(size(sphnet_predict(m, zeros(0, 2))), [0, 1]);

%!error id=sphnet:predict:badModel sphnet_predict(struct('kind', 'other'), [1 2])
%!error id=sphnet:predict:badModel sphnet_predict(setfield(model, 'nodeClass', model.nodeClass + 5), [1 2])
%!error id=sphnet:predict:badModel sphnet_predict(setfield(model, 'centres', NaN(size(model.centres))), [1 2])
%!error id=sphnet:predict:badX sphnet_predict(model, {1, 2})
%!error id=sphnet:predict:wrongColumns sphnet_predict(model, [1 2 3])
%!error id=sphnet:predict:nonFiniteX sphnet_predict(model, [1 Inf])
%!error id=sphnet:predict:badOption sphnet_predict(model, [1 2], 'Nearest', true)
%!error id=sphnet:predict:badOption sphnet_predict(model, [1 2], 'Fallback')
%!error id=sphnet:predict:badOptionValue sphnet_predict(model, [1 2], 'Fallback', 'vote')
%!error id=sphnet:predict:badOptionValue sphnet_predict(model, [1 2], 'UnknownLabel', 'x')

%!test
%! ## Wrong option values and damaged models end in sphnet:predict identifiers, never in an
%! ## error of Octave's own.
%! flags = sphnet_fit(X, y > 1);
%! for value = {{1}, struct('a', 1), 1i, [], NaN, [1 2], @sin, 'x', 2}
%!   for name = {'Fallback', 'UnknownLabel'}
%!     try
%!       sphnet_predict(flags, [1 2], 'Fallback', 'unknown', name{1}, value{1});
%!       error('accepted');
%!     catch err
%!       assert(err.identifier, 'sphnet:predict:badOptionValue', sprintf('%s: %s', name{1}, err.message));
%!     end
%!   end
%! end
%! damage = {'version', 2; 'norm', 'two'; 'norm', 0.5; 'rmax', NaN; 'margin', -1; 'centres', {1};
%!           'centres', zeros(3, 0); 'radii', 'abc'; 'radii', [1; 2]; 'nodeClass', 1.5 * model.nodeClass;
%!           'classes', {1; 2; 3}; 'classes', [1; 1; 2]; 'classes', [1 2 3]; 'labels', flipud(model.labels);
%!           'standardize', struct('mu', 1); 'standardize', {}; 'summary', 5};
%! for k = 1:rows(damage)
%!   try
%!     sphnet_predict(setfield(model, damage{k, :}), [1 2]);
%!     error('accepted');
%!   catch err
%!     assert(err.identifier, 'sphnet:predict:badModel', sprintf('%s: %s', damage{k, 1}, err.message));
%!   end
%! end

%!test
%! ## The internal engine refuses malformed calls with its own identifier, never crashing.
%! nodes = [model.centres, model.radii];
%! bad = {{}, {'fit'}, {1}, {'train', [1 2]}, {'recall', nodes, model.nodeClass, 2, [1 2], 2}, ...
%!        {'recall', nodes, model.nodeClass, 2, [1 2 3], 1}, {'recall', [nodes; NaN(1, 3)], [model.nodeClass; 1], 2, [1 2], 1}, ...
%!        {'recall', nodes, model.nodeClass(2:end), 2, [1 2], 1}, {'recall', nodes, model.nodeClass, 0.5, [1 2], 1}, ...
%!        {'train', [1 2], 1, 2, 1, 0, 5, 0, [1 2], 1}, {'train', [1 2], 1, 2, -1, 0, 5, 0, [], []}, ...
%!        {'train', [1 NaN], 1, 2, 1, 0, 5, 0, [], []}, {'train', [1 2], [1 2], 2, 1, 0, 5, 0, [], []}, ...
%!        {'train', single([1 2]), 1, 2, 1, 0, 5, 0, [], []}, {'train', [1 2], 1, 2, 1, Inf, 5, 0, [], []}};
%! for k = 1:numel(bad)
%!   try
%!     sphnet_engine(bad{k}{:});
%!     error('call %d was accepted', k);
%!   catch err
%!     assert(err.identifier, 'sphnet:engine:badArgument', sprintf('call %d: %s', k, err.message));
%!   end
%! end
