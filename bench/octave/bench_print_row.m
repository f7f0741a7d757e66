function bench_print_row(row)
% Prints one table row, and for recall a second line with every peer; without an argument, the
% header.
  format = '%-6s %-9s %7s %4s %4s %4s %6s %8s %6s %9s %9s %8s  %-13s %9s %8s %7s  %s\n';
  if nargin == 0
    printf(format, 'what', 'data', 'N|P', 'n', 'p', 'marg', 'nodes', 'passes', 'fallbk', ...
        'sphnet s', 'literal s', 'speed-up', 'best peer', 'peer s', 'sph/peer', 'Gterm/s', 'notes');
    printf('%s\n', repmat('-', 1, 150));
    return
  end
  peer_name = '-';
  peer_text = '-';
  ratio_text = '-';
  if !isempty(row.peers)
    [~, best] = min([row.peers.fit_predict]);   % NaN (peer not available) never wins
    peer = row.peers(best);
    peer_name = [peer.name, bench_if(peer.prefix > 0, '*', '')];
    peer_text = number_text(peer.fit_predict);
    ratio_text = sprintf('%.2f', row.seconds / peer.fit_predict);
  end
  notes = {row.note, row.literal_note};
  notes = strjoin(notes(!cellfun(@isempty, notes)), '; ');
  printf(format, row.what, row.family, bench_count_text(row.count), num2str(row.n), ...
      num2str(row.p), num2str(row.margin), num2str(row.nodes), row.passes, ...
      percent_text(row.fallback), number_text(row.seconds), number_text(row.literal_seconds), ...
      sprintf('%.1fx%s', row.speedup, bench_if(isempty(row.literal_note), '', '^')), ...
      peer_name, peer_text, ratio_text, number_text(row.gterms), notes);
  if !isempty(row.peers)
    parts = arrayfun(@(q) sprintf('%s%s %s (%s)', q.name, bench_if(q.prefix > 0, '*', ''), ...
        number_text(q.fit_predict), number_text(q.predict)), row.peers, 'UniformOutput', false);
    printf('%8s peers, fit+predict (predict alone) s: %s\n', '', strjoin(parts, '  '));
  end
  if !isempty(row.memory)
    m = row.memory;
    limit = 2 * (m.inputs + m.outputs) + m.budget;
    printf('%8s memory: peak %s = inputs %s + added %s; 2 x (inputs + outputs %s) + scratch %s = %s: %s  [%s]\n', ...
        '', bench_bytes_text(m.inputs + m.added), bench_bytes_text(m.inputs), ...
        bench_bytes_text(m.added), bench_bytes_text(m.inputs + m.outputs), ...
        bench_bytes_text(m.budget), bench_bytes_text(limit), ...
        bench_if(isnan(m.added), 'not measured', bench_if(m.inputs + m.added <= limit, 'ok', 'OVER')), ...
        m.parts);
  end
  if row.mismatch
    printf('\n!!!!!!!! MISMATCH: sphnet and the literal scan differ on the row above !!!!!!!!\n\n');
  end
  fflush(stdout);
end

function text = number_text(value)
  if isnan(value)
    text = '-';
  elseif value >= 100
    text = sprintf('%.0f', value);
  elseif value >= 0.1
    text = sprintf('%.3g', value);
  else
    text = sprintf('%.2g', value);
  end
end

function text = percent_text(share)
  if isnan(share)
    text = '-';
  else
    text = sprintf('%.1f%%', 100 * share);
  end
end
