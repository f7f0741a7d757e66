function peers = bench_peers(net, p, X, cfg)
% Times the nearest-neighbour peers (bench/peers.py) on the node centres, their labels and the
% patterns, handed over as raw float64 files in cfg.tmp.
  n = columns(X);
  write = @(name, values) bench_write_raw(fullfile(cfg.tmp, name), values);
  write('centres.f64', net.nodes(:, 1:n).');      % row-major for numpy
  write('labels.f64', net.labels);
  write('patterns.f64', X.');
  fid = fopen(fullfile(cfg.tmp, 'n.txt'), 'w');
  fprintf(fid, '%d', n);
  fclose(fid);
  [status, text] = system(sprintf('%s recall %s %g %g', cfg.peers_command, cfg.tmp, p, ...
      cfg.peer_seconds));
  if status != 0
    error('bench: peers.py failed:\n%s', text);
  end
  fields = textscan(text, '%s %f %f %f');
  peers = struct('name', fields{1}', 'fit_predict', num2cell(fields{2}'), ...
      'predict', num2cell(fields{3}'), 'prefix', num2cell(fields{4}'));
end
