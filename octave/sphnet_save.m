function sphnet_save(model, file)
% SPHNET_SAVE  Write a model from SPHNET_FIT to a model file.
%   SPHNET_SAVE(MODEL, FILE) writes MODEL to FILE, a MAT file (version 7, as save -v7 writes
%   it) whose variables are the model's fields and sphnet_format, the file format's version
%   (1). SPHNET_LOAD reads it back, and so does sphnet.load in Python (and the other way
%   round: RCEClassifier.save writes the same format):
%
%     D = csvread('data/iris.csv');
%     model = sphnet_fit(D(:, 1:4), D(:, 5), 'Standardize', true);
%     sphnet_save(model, 'iris_model.mat');
%     same = sphnet_load('iris_model.mat');   % isequal(same, model)
%
%   Errors: sphnet:save:badModel (MODEL is not a sound model), sphnet:save:badFile (FILE is
%   not a string), sphnet:save:cannotWrite.
%
%   See also SPHNET_LOAD, SPHNET_FIT.

  if nargin ~= 2
    error('sphnet:save:badFile', 'sphnet_save: MODEL and FILE are required.');
  end
  try
    sphnet_predict(model, zeros(0, size(model.centres, 2)));
  catch err
    error('sphnet:save:badModel', 'sphnet_save: MODEL is not a usable model (%s)', err.message);
  end
  if ~(ischar(file) && rows(file) == 1)
    error('sphnet:save:badFile', 'sphnet_save: FILE must be a file name.');
  end
  contents = model;
  contents.sphnet_format = 1;
  try
    save('-v7', file, '-struct', 'contents');
  catch err
    error('sphnet:save:cannotWrite', 'sphnet_save: cannot write %s (%s)', file, err.message);
  end
end

%!test
%! ## A round trip gives the same model, for every label type; the file is a MAT file with
%! ## the model's fields and the format version as variables.
%! file = [tempname() '.mat'];
%! cleanup = onCleanup(@() delete(file));
%! X = [0 0; 0.2 0.1; 3 3; 3.1 2.9; 0.1 3; 0.2 3.1];
%! names = {'a'; 'a'; 'bb'; 'bb'; 'c'; 'c'};
%! for labels = {[1; 1; 2; 2; 3; 3], int8([-1; -1; 0; 0; 1; 1]), [0; 0; 1; 1; 1; 1] > 0, names, char(names)}
%!   model = sphnet_fit(X, labels{1}, 'Standardize', true);
%!   sphnet_save(model, file);
%!   assert(sphnet_load(file), model);
%! end
%! assert(sort(fieldnames(load(file))), sort([fieldnames(model); {'sphnet_format'}]));

%!error id=sphnet:save:badModel sphnet_save(struct('kind', 'sphnet model'), 'x.mat')
%!error id=sphnet:save:badFile sphnet_save(sphnet_fit([1; 2], [1; 2]), 5)
%!error id=sphnet:save:cannotWrite sphnet_save(sphnet_fit([1; 2], [1; 2]), fullfile(tempname(), 'no', 'x.mat'))
