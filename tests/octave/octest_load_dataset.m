% OCTEST_LOAD_DATASET  Features and labels of one data set from the directory in SPHNET_DATA_DIR.
%   [X, y] = OCTEST_LOAD_DATASET(NAME) reads NAME.csv: features first, label in the last column.
function [X, y] = octest_load_dataset(name)
  datadir = getenv('SPHNET_DATA_DIR');
  if (isempty(datadir))
    error('octest_load_dataset: set SPHNET_DATA_DIR to the data directory');
  end
  D = csvread(fullfile(datadir, [name '.csv']));
  X = D(:, 1:end-1);
  y = D(:, end);
end
