function text = bench_count_text(count)
% 100000 as 1e5, 20000 as 2e4, 1797 as 1797.
  exponent = floor(log10(max(count, 1)));
  lead = count / 10 ^ exponent;
  if count >= 1e4 && lead == round(lead)
    text = sprintf('%de%d', lead, exponent);
  else
    text = sprintf('%d', count);
  end
end
