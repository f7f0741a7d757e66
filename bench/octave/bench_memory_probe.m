function bench_memory_probe(file)
% Loads one call from FILE (fn, args, nout), resets this process's resident high-water mark
% (Linux: "5" to /proc/self/clear_refs), makes the call and prints "added BYTES": the mark
% after it less the resident size before, or NaN where the reset is not allowed.
  load(file);
  outputs = cell(1, nout);
  fid = fopen('/proc/self/clear_refs', 'w');
  if fid < 0 || fprintf(fid, '5') != 1 || fclose(fid) != 0
    printf('added NaN\n');
    return
  end
  base = status_bytes('VmRSS');
  [outputs{:}] = feval(fn, args{:});
  printf('added %d\n', status_bytes('VmHWM') - base);
end

function bytes = status_bytes(name)
  found = regexp(fileread('/proc/self/status'), [name, ':\s*(\d+) kB'], 'tokens', 'once');
  bytes = 1024 * str2double(found{1});
end
