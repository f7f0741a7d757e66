function [count, note] = bench_literal_plan(terms_per_item, items, p, cfg)
% How many items (patterns, or patterns of one pass) the literal scan can take within
% cfg.literal_seconds, from its rough coordinate-term rate: all of them, or a prefix rounded
% down to two significant digits. terms_per_item may be a function of the prefix length.
  if isnumeric(terms_per_item)
    per_item = terms_per_item;
    terms_per_item = @(k) per_item;
  end
  rate = 5e7;                  % general formula: a pow per term
  if p == 1 || isinf(p)
    rate = 4e8;
  end
  affordable = @(k) k * terms_per_item(k) / rate <= cfg.literal_seconds;
  count = items;
  note = '';
  if affordable(items)
    return
  end
  low = 1;
  high = items;
  while high - low > 1        % the largest affordable prefix
    middle = floor((low + high) / 2);
    if affordable(middle)
      low = middle;
    else
      high = middle;
    end
  end
  scale = 10 ^ max(0, floor(log10(low)) - 1);
  count = max(1, floor(low / scale) * scale);
  note = sprintf('literal on first %s', bench_count_text(count));
end
