% Runs Octave test files against the modules in a toolbox directory:
%
%   octave-cli run_suite.m TOOLBOX_DIR FILE.tst ...
%
% Prints each file's pass count, the failing blocks in full, and exits non-zero when any test
% fails, when a file holds no test, or when the toolbox's compiled modules are not the
% functions that would be called.
1;

args = argv();
if (numel(args) < 2)
  fprintf(stderr, 'usage: run_suite.m TOOLBOX_DIR FILE.tst ...\n');
  exit(2);
end
toolbox = args{1};
addpath(fileparts(mfilename('fullpath')));
addpath(toolbox);

% exist() returns 3 for a compiled MEX function: a help-only .m file must not answer instead.
for fn = {'sphnet_learn', 'sphnet_recall', 'sphnet_engine'}
  if (exist(fn{1}) != 3)
    fprintf(stderr, '%s: no compiled module in %s\n', fn{1}, toolbox);
    exit(2);
  end
end

failed = 0;
for i = 2:numel(args)
  file = args{i};
  [~, name, ext] = fileparts(file);
  [passed, total] = test(file, 'quiet', stdout);
  printf('%s%s: %d of %d tests passed\n', name, ext, passed, total);
  if (total == 0 || passed != total)
    failed += 1;
  end
end
exit(failed != 0);
