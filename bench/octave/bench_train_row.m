function [row, net] = bench_train_row(plan, X, y, cfg)
% A training row: sphnet_learn timed on the whole run, the literal scan on the whole run, on one
% pass, or on one pass over a prefix (whichever fits its time budget), both on the same work.
  p = plan.p;
  rmax = bench_rmax(X, p);
  learn_with = @(learn, count, passes) ...
      @() learn(X(1:count, :), y(1:count), p, rmax, plan.margin, passes, 0);
  [seconds, out] = bench_time(learn_with(cfg.learn, rows(X), plan.passes), 3, cfg);
  [nodes, node_labels, presentations] = out{:};
  net = struct('nodes', nodes, 'labels', node_labels, 'rmax', rmax);
  row = bench_row_fields(plan, rows(X));
  row.nodes = rows(nodes);
  converged = presentations < plan.passes;
  row.passes = sprintf('%d %s', presentations, bench_if(converged, 'conv', 'stop'));
  row.seconds = seconds;
  row.note = sprintf('Rmax %.3g', rmax);
  if isempty(cfg.plan)
    row = bench_memory_fields(row, 'sphnet_learn', {X, y, p, rmax, plan.margin, plan.passes, 0}, ...
        {'Patterns', X, 'PLabels', y}, ...
        {'Nodes', nodes, 'NodeLabels', node_labels, 'Presentations', presentations}, ...
        cfg.train_scratch_bytes, cfg);
  end

  % Literal work: coverage tests against about half the nodes per pattern and pass.
  passes_run = presentations + converged;
  full_terms = 0.5 * rows(nodes) * columns(X) * passes_run;
  [count, prefix_note] = bench_literal_plan(full_terms, rows(X), p, cfg);
  literal_passes = plan.passes;
  same_seconds = seconds;
  if count < rows(X)
    literal_passes = 1;      % one pass, on the prefix the budget allows
    node_share = min(1, rows(nodes) / rows(X));   % nodes made per pattern, roughly
    [count, prefix_note] = bench_literal_plan(@(k) 0.5 * k * node_share * columns(X), ...
        rows(X), p, cfg);
    [same_seconds, same] = bench_time(learn_with(cfg.learn, count, 1), 3, cfg);
    row.literal_note = ['1 pass', bench_if(isempty(prefix_note), '', [', ' prefix_note])];
  else
    same = out;
  end
  [literal_seconds, literal] = bench_time(learn_with(@sphnet_literal_learn, count, ...
      literal_passes), 3, setfield(cfg, 'repeats', 1));
  row.literal_seconds = literal_seconds;
  row.speedup = literal_seconds / same_seconds;
  if !isempty(row.literal_note)
    row.literal_note = sprintf('%s (sphnet %.3g s on it)', row.literal_note, same_seconds);
  end
  row.mismatch = !isequal(literal, same);
end

