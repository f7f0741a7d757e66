function bench_octave_main(toolbox, literal_toolbox, data_dir, tmp, peers_command, quick, only, plan)
% The Octave benchmark table: sphnet_learn and sphnet_recall called from Octave, against the
% literal scan (as Octave modules too) and nearest-neighbour peers. scripts/run_octave_benchmarks.sh
% calls this; ONLY is a regular expression matched against each row's name; PLAN, when not
% empty, a search plan text forced on every sphnet call (bench_planned).
  addpath(toolbox);
  addpath(literal_toolbox);
  cfg = struct('toolbox', toolbox, 'data_dir', data_dir, 'tmp', tmp, 'peers_command', peers_command, ...
      'quick', quick, 'repeats', bench_if(quick, 3, 5), 'repeat_seconds', bench_if(quick, 1.5, 8), ...
      'literal_seconds', bench_if(quick, 1.5, 15), 'peer_seconds', bench_if(quick, 0.5, 5), ...
      'train_scratch_bytes', 52 * 2^20, 'recall_scratch_bytes', 2 * 2^20, 'plan', plan, ...
      'learn', @sphnet_learn, 'recall', @sphnet_recall);
  if !isempty(plan)
    cfg.learn = @(varargin) bench_planned('learn', plan, varargin{:});
    cfg.recall = @(varargin) bench_planned('recall', plan, varargin{:});
  end
  % Scratch beyond a second copy of inputs and outputs: training's block lists take at most
  % 24 MiB (learn/training_node_set.cpp), the rest is room for per-node scan state beyond the
  % output's second copy; recall 30 kB of block state per thread
  % (recall/recall_node_set.h). Loading a module adds about 0.9 MB and recall's second thread
  % about 0.2 MB (measured: a recall of 10 patterns against 300 nodes, n=8, adds 1.1 MB).
  plans = bench_rows(quick);
  bench_print_row();
  networks = containers.Map();
  for plan = plans
    if !isempty(only) && isempty(regexp(plan.name, only, 'once'))
      continue
    end
    key = sprintf('%s %d %d %g %g %d', plan.family, plan.n, plan.N, plan.p, plan.margin, ...
        plan.passes);
    if strcmp(plan.kind, 'train') || !isKey(networks, key)
      [X, y] = bench_data(plan.family, plan.N, plan.n, 1, cfg);
    end
    if strcmp(plan.kind, 'train')
      [row, networks(key)] = bench_train_row(plan, X, y, cfg);
    else
      if !isKey(networks, key)       % trained here, untimed, when no training row made it
        [nodes, labels, ~] = cfg.learn(X, y, plan.p, bench_rmax(X, plan.p), plan.margin, ...
            plan.passes, 0);
        networks(key) = struct('nodes', nodes, 'labels', labels);
      end
      patterns = bench_data(plan.family, plan.P, plan.n, 2, cfg);
      if strcmp(plan.patterns, 'far')
        patterns = 3 * patterns;    % mostly outside every sphere: the 1-NN rule labels them
      end
      row = bench_recall_row(plan, networks(key), patterns, cfg);
    end
    clear X y patterns
    row.note = strjoin({plan.label, row.note}(!cellfun(@isempty, {plan.label, row.note})), '; ');
    bench_print_row(row);
  end
end
