% Builds both modules with octave/make_sphnet.m into a fresh folder and calls them once.
% Usage: octave-cli test_make_sphnet.m MAKE_SPHNET_M OUTDIR
args = argv();
script = args{1};
outdir = args{2};
try
  confirm_recursive_rmdir(false);
  if exist(outdir, 'dir')
    rmdir(outdir, 's');
  end
  addpath(fileparts(script));
  make_sphnet(outdir);
  addpath(outdir);  % ahead of the help-only files beside make_sphnet.m
  for name = {'sphnet_learn', 'sphnet_recall', 'sphnet_engine'}
    where = which(name{1});
    assert(strcmp(where, fullfile(outdir, [name{1} '.mex'])), 'found %s', where);
    assert(exist(fullfile(outdir, [name{1} '.m']), 'file') == 2, 'help file missing');
    [status, symbols] = system(['nm -D --defined-only ' where]);
    exported = regexp(symbols, '[0-9a-f]+ [TDBR] (\S+)', 'tokens');
    assert(status == 0 && isequal([exported{:}], {'mexFunction'}), 'exports: %s', symbols);
  end
  assert(isempty(dir(fullfile(pwd, '*.o'))), 'objects left in the working folder');
  [Nodes, NodeLabels, Presentations] = sphnet_learn([0 0; 1 0], [1; 2], 2, 10, 0, 5, 0);
  assert(Nodes, [0 0 0.5; 1 0 0.5]);
  assert(NodeLabels, [1; 2]);
  assert(Presentations, 1);
  assert(sphnet_recall(Nodes, NodeLabels, 2, [0.1 0; 0.9 0; 5 0], -1, 1, 0), [1; 2; 2]);
  assert(strncmp(strtrim(help('sphnet_learn')), 'SPHNET_LEARN', 12));
  assert(sphnet_predict(sphnet_fit([0 0; 1 0], {'a'; 'b'}), [0.9 0]), {'b'});
  printf('make_sphnet: the modules built and called\n');
catch err
  fprintf(stderr, '%s\n', err.message);
  exit(1);
end
