function text = bench_bytes_text(bytes)
% Bytes in MB (10^6), or kB below 0.1 MB.
  if isnan(bytes)
    text = '-';
  elseif abs(bytes) < 1e5
    text = sprintf('%.3g kB', bytes / 1e3);
  else
    text = sprintf('%.3g MB', bytes / 1e6);
  end
end
