function added = bench_peak_memory(fn, args, nout, cfg)
% The resident bytes that one call fn(args{:}) adds at its peak, outputs included, measured in a
% fresh octave-cli (bench_memory_probe): in this process, memory freed by earlier calls would
% be reused unseen. NaN where the high-water mark cannot be reset.
  file = fullfile(cfg.tmp, 'memory_call.mat');
  save('-binary', file, 'fn', 'args', 'nout');
  [status, text] = system(sprintf(['octave-cli --no-gui --quiet --norc --eval ', ...
      '"addpath(''%s''); bench_memory_probe(''%s'')" 2>&1'], cfg.toolbox, file));
  delete(file);
  added = str2double(regexp(text, 'added (\S+)', 'tokens', 'once'));
  if status != 0 || isempty(added)
    error('bench: the memory probe failed:\n%s', text);
  end
end
