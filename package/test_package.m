% Installs the package archive into a throw-away prefix (the user's own packages stay
% untouched), loads it, runs the tests in its help files and the demo.
% Usage: octave-cli test_package.m ARCHIVE WORKDIR
args = argv();
archive = args{1};
work = args{2};
try
  confirm_recursive_rmdir(false);
  if exist(work, 'dir')
    rmdir(work, 's');
  end
  mkdir(work);
  prefix = fullfile(work, 'packages');
  pkg('prefix', prefix, prefix);
  pkg('local_list', fullfile(work, 'octave_packages'));
  pkg('global_list', fullfile(work, 'octave_packages_global'));
  pkg('install', '-local', archive);
  pkg('load', 'sphnet');

  % The modules, their help and the demo come from the installed package.
  for name = {'sphnet_learn', 'sphnet_recall', 'sphnet_demo', 'sphnet_fit', 'sphnet_predict'}
    assert(strncmp(which(name{1}), prefix, numel(prefix)), '%s found at %s', name{1}, which(name{1}));
  end
  assert(exist('sphnet_learn') == 3 && exist('sphnet_recall') == 3, 'modules not loadable');
  assert(sphnet_predict(sphnet_fit([0 0; 1 0], {'a'; 'b'}), [0.9 0]), {'b'});
  assert(strncmp(strtrim(help('sphnet_recall')), 'SPHNET_RECALL', 13));

  % Only mexFunction is exported (weak symbols of the C++ library aside).
  for name = {'sphnet_learn', 'sphnet_recall', 'sphnet_engine'}
    [status, symbols] = system(['nm -D --defined-only ' which(name{1})]);
    assert(status == 0);
    exported = regexp(symbols, '[0-9a-f]+ [TDBR] (\S+)', 'tokens');
    exported = [exported{:}];
    assert(isequal(exported, {'mexFunction'}), 'exports: %s', strjoin(exported, ' '));
  end
  % And at run time: calls of sphnet_recall in between leave sphnet_learn's counters alone.
  summary = @() evalc('[~, ~, ~] = sphnet_learn([0 0; 1 0], [1; 2], 2, 10, 0, 5, 1);');
  counts = @(text) str2double(regexp(text, '(\d+) FLOPs and (\d+) comparisons', 'tokens', 'once'));
  before = counts(summary());
  Labels = sphnet_recall([0 0 1], 1, 2, rand(100, 2), -1, 1, 0);
  after = counts(summary());
  assert(mod(after(:) - before(:), 2^32), [37; 6]);

  failed = 0;
  for name = {'sphnet_learn', 'sphnet_recall'}
    [passed, total] = test(name{1});
    printf('%s: %d of %d tests passed\n', name{1}, passed, total);
    failed = failed + (total - passed) + (total == 0);
  end
  assert(failed == 0, '%d tests failed', failed);

  demo_dir = fullfile(work, 'demo');
  results = sphnet_demo(demo_dir);
  png = fullfile(demo_dir, 'sphnet_demo.png');
  fid = fopen(png, 'r');
  signature = fread(fid, 8, 'uint8')';
  fclose(fid);
  assert(signature, [137 80 78 71 13 10 26 10]);
  assert(exist(fullfile(demo_dir, 'sphnet_demo_table.txt'), 'file') == 2);
  assert({results.name}, {'iris', 'wine', 'breast_cancer', 'digits'});
  assert(all([results.accuracy] > 90), 'accuracy below 90%%');
  pkg('unload', 'sphnet');
  pkg('uninstall', '-local', 'sphnet');
  assert(isempty(pkg('list')));
  printf('package: installed, tested, demo written to %s, uninstalled\n', demo_dir);
catch err
  fprintf(stderr, '%s\n', err.message);
  exit(1);
end
