function [X, y] = bench_data_digits(data_dir)
% The shipped digits set (1797 x 64, labels in the last column), z-scored; constant columns
% (zero spread) are only centred.
  D = csvread(fullfile(data_dir, 'digits.csv'));
  X = D(:, 1:end-1);
  y = D(:, end);
  spread = std(X);
  spread(spread == 0) = 1;
  X = (X - mean(X)) ./ spread;
end
