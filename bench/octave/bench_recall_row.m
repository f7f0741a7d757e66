function row = bench_recall_row(plan, net, X, cfg)
% A recall row: sphnet_recall (nn_option 1) timed on all patterns, the literal scan on all of
% them or on the prefix its budget allows (sphnet timed again on that prefix), and the peers
% on the same node centres and patterns.
  p = plan.p;
  recall_with = @(recall, count) ...
      @() bench_recall_call(recall, net.nodes, net.labels, p, X(1:count, :));
  [seconds, out] = bench_time(recall_with(cfg.recall, rows(X)), 2, cfg);
  [labels, fallback] = out{:};
  row = bench_row_fields(plan, rows(X));
  row.nodes = rows(net.nodes);
  row.fallback = fallback / rows(X);
  row.seconds = seconds;
  row.gterms = rows(X) * rows(net.nodes) * columns(X) / seconds / 1e9;
  row.note = sprintf('%s patterns, nodes from N=%s', plan.patterns, bench_count_text(plan.N));
  if isempty(cfg.plan)
    row = bench_memory_fields(row, 'sphnet_recall', {net.nodes, net.labels, p, X, -1, 1, 0}, ...
        {'Templates', net.nodes, 'NLabels', net.labels, 'Patterns', X}, {'Labels', labels}, ...
        cfg.recall_scratch_bytes, cfg);
  end

  % A covered pattern stops after about half the nodes, a fallback scans them all.
  terms = rows(net.nodes) * columns(X) * (row.fallback + 0.5 * (1 - row.fallback));
  [count, row.literal_note] = bench_literal_plan(terms, rows(X), p, cfg);
  same_seconds = seconds;
  same_labels = labels;
  if count < rows(X)
    [same_seconds, same] = bench_time(recall_with(cfg.recall, count), 1, cfg);
    same_labels = same{1};
  end
  [literal_seconds, literal] = bench_time(recall_with(@sphnet_literal_recall, count), 1, ...
      setfield(cfg, 'repeats', 1));
  row.literal_seconds = literal_seconds;
  row.speedup = literal_seconds / same_seconds;
  if !isempty(row.literal_note)
    row.literal_note = sprintf('%s (sphnet %.3g s on it)', row.literal_note, same_seconds);
  end
  row.mismatch = !isequal(literal{1}, same_labels);
  if isempty(cfg.plan)
    row.peers = bench_peers(net, p, X, cfg);
  end
end
