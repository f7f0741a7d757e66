% OCTAVE_MODEL_FILES(OUTDIR, DATADIR)  The Octave half of the model-file test. For each
% OUTDIR/python_NAME_P.mat that Python saved: sphnet_load, sphnet_predict on the data set's
% patterns shifted by 0.25, results to OUTDIR/python_NAME_P_out.mat. Then for each data set
% DATADIR/NAME.csv and each norm P in 1, 2, 1.5, Inf: sphnet_fit with 'Standardize' and labels
% of a type per data set, sphnet_save to OUTDIR/octave_NAME_P.mat, results as above to
% OUTDIR/octave_NAME_P_out.mat. Two iris cases add octave_iris_inf.mat (Rmax Inf) and
% octave_iris_start.mat (classes appended by 'Start'). Results: labels, their class
% (labelClass), node, distance, coverCount, status.
function octave_model_files(outdir, datadir)
  for file = dir(fullfile(outdir, 'python_*.mat'))'
    if ~isempty(strfind(file.name, '_out.mat'))
      continue;
    end
    name = regexp(file.name, 'python_([a-z_]+)_', 'tokens', 'once'){1};
    X = csvread(fullfile(datadir, [name '.csv']))(:, 1:end-1);
    write_results(sphnet_load(fullfile(outdir, file.name)), X, fullfile(outdir, strrep(file.name, '.mat', '_out.mat')));
  end
  names = {'one'; 'two'; 'three'};
  for name = {'iris', 'wine', 'breast_cancer', 'digits'}
    D = csvread(fullfile(datadir, [name{1} '.csv']));
    X = D(:, 1:end-1);
    y = D(:, end);
    switch name{1}
      case 'iris'
        y = {'setosa'; 'versicolor'; 'virginica'}(y);
      case 'wine'
        y = char(names(y));
      case 'breast_cancer'
        y = y == max(y);
    end
    for p = [1 2 1.5 Inf]
      model = sphnet_fit(X, y, 'Norm', p, 'Standardize', true);
      file = fullfile(outdir, sprintf('octave_%s_%g.mat', name{1}, p));
      sphnet_save(model, file);
      write_results(model, X, strrep(file, '.mat', '_out.mat'));
    end
  end
  D = csvread(fullfile(datadir, 'iris.csv'));
  sphnet_save(sphnet_fit(D(:, 1:4), D(:, 5), 'Rmax', Inf), fullfile(outdir, 'octave_iris_inf.mat'));
  first = sphnet_fit(D(51:end, 1:4), D(51:end, 5), 'Rmax', 0.5);
  sphnet_save(sphnet_fit(D(:, 1:4), D(:, 5), 'Start', first), fullfile(outdir, 'octave_iris_start.mat'));
end

function write_results(model, X, file)
  [labels, info] = sphnet_predict(model, X + 0.25);
  labelClass = class(labels);
  node = info.node;
  distance = info.distance;
  coverCount = info.coverCount;
  status = info.status;
  save('-v7', file, 'labels', 'labelClass', 'node', 'distance', 'coverCount', 'status');
end
