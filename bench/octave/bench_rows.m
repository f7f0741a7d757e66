function plans = bench_rows(quick)
% The table's rows. Training: kind, data family, n, N, p, margin, max_list_presentations.
% Recall adds P and where the patterns lie: 'near' (drawn like the training set, mostly inside
% spheres) or 'far' (three times as spread, mostly labelled by the 1-NN rule); its nodes come
% from the training row with the same first seven entries (or an untimed training run).
% 'target' marks the reported cases. --quick divides N by 10 (the digits set stays whole) and P
% by 20.
  table = {
  % kind     family       n     N     p    marg pass  P     patterns label
    'train', 'halves',    8,   3e4,   2,   0,   10,   0,   '',     ''
    'train', 'halves',    8,   3e4,   1,   0.1, 5,    0,   '',     ''
    'train', 'halves',    8,   3e4,   Inf, 0,   10,   0,   '',     ''
    'train', 'halves',    8,   3e4,   1.5, 0,   3,    0,   '',     ''
    'train', 'separated', 8,   1e6,   2,   0,   10,   0,   '',     ''
    'train', 'halves',    20,  2e4,   2,   0,   10,   0,   '',     'target'
    'train', 'halves',    20,  1e5,   2,   0,   2,    0,   '',     'target'
    'train', 'overlap',   8,   5e4,   2,   0,   10,   0,   '',     ''
    'train', 'overlap',   20,  2e4,   1,   0.1, 3,    0,   '',     ''
    'train', 'overlap',   64,  1e4,   2,   0,   10,   0,   '',     ''
    'train', 'overlap',   256, 7e3,   2,   0,   10,   0,   '',     ''
    'train', 'separated', 64,  1e5,   Inf, 0.1, 10,   0,   '',     ''
    'train', 'separated', 256, 1e5,   1.5, 0,   10,   0,   '',     ''
    'train', 'separated', 784, 1e5,   2,   0,   10,   0,   '',     ''
    'train', 'separated', 784, 1e5,   1,   0,   10,   0,   '',     ''
    'train', 'halves',    784, 4e3,   2,   0,   10,   0,   '',     ''
    'train', 'digits',    64,  1797,  2,   0,   50,   0,   '',     ''
    'train', 'digits',    64,  1797,  1,   0.1, 50,   0,   '',     ''
    'train', 'shift2',    2,   1e4,   2,   0,   3,    0,   '',     ''
    'train', 'shift2',    2,   1e4,   1,   0.05, 3,   0,   '',     ''
    'train', 'shift3',    2,   1e4,   Inf, 0,   3,    0,   '',     ''
    'train', 'shift2',    3,   1e4,   1.5, 0.05, 3,   0,   '',     ''
    'train', 'shift3',    3,   1e4,   1,   0,   3,    0,   '',     ''
    'train', 'shift2',    4,   1e4,   2,   0.05, 3,   0,   '',     ''
    'train', 'shift3',    4,   1e4,   Inf, 0,   3,    0,   '',     ''
    'train', 'shift3',    3,   1e4,   Inf, 0.05, 3,   0,   '',     ''
    'train', 'shift2',    8,   1e4,   2,   0,   3,    0,   '',     ''
    'train', 'shift3',    8,   1e4,   1,   0.05, 3,   0,   '',     ''
    'train', 'shift2',    8,   5e4,   2,   0,   3,    0,   '',     ''
    'train', 'shift2',    2,   5e4,   2,   0,   3,    0,   '',     ''
    'train', 'shift2',    2,   5e5,   2,   0,   3,    0,   '',     ''
    'train', 'shift2',    2,   1e6,   2,   0,   3,    0,   '',     ''
    'recall', 'halves',   8,   3e4,   2,   0,   10,   1e5, 'near', ''
    'recall', 'halves',   8,   3e4,   2,   0,   10,   1e5, 'far',  ''
    'recall', 'halves',   8,   3e4,   1,   0.1, 5,    1e5, 'near', ''
    'recall', 'halves',   8,   3e4,   Inf, 0,   10,   1e5, 'far',  ''
    'recall', 'halves',   8,   3e4,   1.5, 0,   3,    1e5, 'near', ''
    'recall', 'separated', 8,  1e6,   2,   0,   10,   1e6, 'near', ''
    'recall', 'separated', 8,  1e6,   2,   0,   10,   1e6, 'far',  ''
    'recall', 'overlap',  8,   5e4,   2,   0,   10,   1e5, 'near', 'target'
    'recall', 'overlap',  64,  1e4,   2,   0,   10,   1e5, 'near', 'target'
    'recall', 'overlap',  256, 7e3,   2,   0,   10,   1e5, 'near', 'target'
    'recall', 'halves',   20,  2e4,   2,   0,   10,   1e4, 'near', 'target'
    'recall', 'separated', 784, 1e5,  2,   0,   10,   1e5, 'near', ''
    'recall', 'digits',   64,  1797,  2,   0,   50,   1e5, 'near', ''
    'recall', 'digits',   64,  1797,  1,   0.1, 50,   1e5, 'far',  ''
  };
  fields = {'kind', 'family', 'n', 'N', 'p', 'margin', 'passes', 'P', 'patterns', 'label'};
  plans = cell2struct(table, fields, 2)';
  for k = 1:numel(plans)
    if quick && !strcmp(plans(k).family, 'digits')
      plans(k).N = plans(k).N / 10;
    end
    if quick
      plans(k).P = plans(k).P / 20;
    end
    plans(k).name = sprintf('%s %s n=%d N=%d p=%g margin=%g P=%d %s %s', plans(k).kind, ...
        plans(k).family, plans(k).n, plans(k).N, plans(k).p, plans(k).margin, plans(k).P, ...
        plans(k).patterns, plans(k).label);
  end
end
