function part = rows_of(values, keep)
% ROWS_OF  Internal: the rows KEEP of VALUES, labels or data: of a char matrix or a matrix its
%   rows, of a vector (numbers, logicals, a cell of strings) its elements as a column.
  if ischar(values) || ~isvector(values)
    part = values(keep, :);
  else
    part = values(keep);
    part = part(:);
  end
end
