function model = sphnet_load(file)
% SPHNET_LOAD  Read a model file written by SPHNET_SAVE (or RCEClassifier.save in Python).
%   MODEL = SPHNET_LOAD(FILE) returns the model stored in FILE, checked as SPHNET_PREDICT
%   checks models, ready for SPHNET_PREDICT and for SPHNET_FIT's 'Start'. Label types come
%   back as written: numeric and logical as such; strings from Python as a cell array of
%   strings.
%
%     model = sphnet_load('iris_model.mat');
%     labels = sphnet_predict(model, [5.1 3.5 1.4 0.2]);
%
%   Errors (nothing is returned on any of them): sphnet:load:badFile (FILE is not a string),
%   sphnet:load:unreadable (no such file, or not a MAT file, or damaged), sphnet:load:notModel
%   (a MAT file without a model), sphnet:load:newerFormat (written by a later version of
%   sphnet), sphnet:load:badModel (the model in it is damaged).
%
%   See also SPHNET_SAVE, SPHNET_PREDICT.

  if nargin ~= 1 || ~(ischar(file) && rows(file) == 1)
    error('sphnet:load:badFile', 'sphnet_load: FILE must be a file name.');
  end
  try
    contents = load('-mat', file);
  catch err
    error('sphnet:load:unreadable', 'sphnet_load: cannot read %s as a MAT file (%s)', file, err.message);
  end
  if ~(isfield(contents, 'sphnet_format') && isfield(contents, 'kind') && ...
       isequal(contents.kind, 'sphnet model'))
    error('sphnet:load:notModel', 'sphnet_load: %s holds no sphnet model.', file);
  end
  format = contents.sphnet_format;
  if ~(isnumeric(format) && isscalar(format) && isreal(format) && format >= 1)
    error('sphnet:load:badModel', 'sphnet_load: %s has no valid format version.', file);
  end
  if format > 1
    error('sphnet:load:newerFormat', ['sphnet_load: %s has format version %g; this sphnet reads ' ...
          'version 1. Update sphnet to read it.'], file, format);
  end
  fields = {'kind', 'version', 'norm', 'rmax', 'margin', 'centres', 'radii', 'nodeClass', ...
            'labels', 'classes', 'standardize', 'summary'};
  if ~all(isfield(contents, fields))
    error('sphnet:load:badModel', 'sphnet_load: %s lacks model fields: %s.', file, ...
          strjoin(fields(~isfield(contents, fields)), ', '));
  end
  candidate = struct();
  for k = 1:numel(fields)
    candidate.(fields{k}) = contents.(fields{k});
  end
  try
    sphnet_predict(candidate, zeros(0, size(candidate.centres, 2)));
  catch err
    error('sphnet:load:badModel', 'sphnet_load: the model in %s is damaged (%s)', file, err.message);
  end
  model = candidate;
end

%!function write_bytes(file, data)
%!  fid = fopen(file, 'w');
%!  fwrite(fid, data);
%!  fclose(fid);
%!endfunction

%!shared file, model
%! file = [tempname() '.mat'];
%! model = sphnet_fit([0 0; 1 0; 0 1], [1; 2; 2]);

%!test
%! ## Damage of any kind, a file of another kind and a newer format all end in an identifier.
%! cleanup = onCleanup(@() delete(file));
%! sphnet_save(model, file);
%! fid = fopen(file);
%! bytes = fread(fid, Inf, 'uint8=>uint8');
%! fclose(fid);
%! contents = load(file);
%! plain = @(s) save('-v7', file, '-struct', 's');
%! cases = {@() write_bytes(file, bytes(1:end - 20)), 'unreadable';
%!          @() write_bytes(file, "a,b\n1,2\n"), 'unreadable';
%!          @() plain(struct('x', 1)), 'notModel';
%!          @() plain(setfield(contents, 'sphnet_format', 2)), 'newerFormat';
%!          @() plain(rmfield(contents, 'radii')), 'badModel';
%!          @() plain(setfield(contents, 'nodeClass', [1; 2; 5])), 'badModel'};
%! for k = 1:rows(cases)
%!   cases{k, 1}();
%!   try
%!     sphnet_load(file);
%!     error('accepted');
%!   catch err
%!     assert(err.identifier, ['sphnet:load:' cases{k, 2}], sprintf('case %d: %s', k, err.message));
%!   end
%! end

%!error id=sphnet:load:unreadable sphnet_load(fullfile(tempname(), 'none.mat'))
%!error id=sphnet:load:badFile sphnet_load({'x.mat'})
