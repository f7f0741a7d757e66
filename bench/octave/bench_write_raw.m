function bench_write_raw(path, values)
  fid = fopen(path, 'w');
  fwrite(fid, values, 'double');
  fclose(fid);
end
