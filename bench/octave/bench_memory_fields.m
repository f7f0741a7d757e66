function row = bench_memory_fields(row, fn, args, inputs, outputs, budget, cfg)
% Fills a row's memory check: the peak that the call fn(args{:}) adds (bench_peak_memory),
% beside the bytes of its inputs and outputs, given as name/value cells ({'Patterns', X, ...}),
% and the fixed scratch budget the call may use on top of a second copy of them.
  [in_bytes, in_text] = sizes(inputs);
  [out_bytes, out_text] = sizes(outputs);
  added = bench_peak_memory(fn, args, numel(outputs) / 2, cfg);
  row.memory = struct('added', added, 'inputs', in_bytes, ...
      'outputs', out_bytes, 'budget', budget, 'parts', [in_text, ' -> ', out_text]);
end

function [total, text] = sizes(parts)
  bytes = cellfun(@(value) numel(value) * 8, parts(2:2:end));   % all doubles
  total = sum(bytes);
  text = strjoin(cellfun(@(name, b) sprintf('%s %s', name, bench_bytes_text(b)), ...
      parts(1:2:end), num2cell(bytes), 'UniformOutput', false), ', ');
end
