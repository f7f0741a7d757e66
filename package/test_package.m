% Installs the package archive into throw-away prefixes (the user's own packages stay untouched),
% in both layouts pkg knows: one prefix for everything, and a separate archprefix for the
% compiled files. Each time it loads the package, finds the modules with their help, calls them,
% runs `pkg test`, the %!demo blocks and the README's quick start, and uninstalls; the exports,
% the separate counters and sphnet_demo are checked once.
% Usage: octave-cli test_package.m ARCHIVE WORKDIR README
args = argv();
archive = args{1};
work = args{2};
readme = fileread(args{3});
try
  confirm_recursive_rmdir(false);
  if exist(work, 'dir')
    rmdir(work, 's');
  end
  mkdir(work);
  cd(work);  % pkg test writes its log here; the quick start runs from here too
  pkg('local_list', fullfile(work, 'octave_packages'));
  pkg('global_list', fullfile(work, 'octave_packages_global'));

  % The README's quick start: the fenced Octave block of its section. It leaves `accuracy`.
  section = regexp(readme, '## Quick start in Octave\n(.*?)\n## ', 'tokens', 'once');
  quick_start = regexp(section{1}, '```octave\n(.*?)```', 'tokens');
  assert(numel(quick_start) == 1, 'the quick start should hold one Octave block');
  quick_start = quick_start{1}{1};

  layouts = {'one prefix', 'separate archprefix'};
  for layout = 1:numel(layouts)
    prefix = fullfile(work, 'packages');
    archprefix = prefix;
    if layout == 2
      archprefix = fullfile(work, 'arch-packages');
    end
    pkg('prefix', prefix, archprefix);
    pkg('install', '-local', archive);
    pkg('load', 'sphnet');
    printf('%s: installed and loaded\n', layouts{layout});

    % Modules come with their help files, under the archprefix; the demo lies under the prefix.
    for name = {'sphnet_learn', 'sphnet_recall', 'sphnet_engine'}
      [module_dir, ~, ext] = fileparts(which(name{1}));
      assert(strcmp(ext, '.mex') && strncmp(module_dir, archprefix, numel(archprefix)), ...
             '%s found at %s', name{1}, which(name{1}));
      assert(exist(fullfile(module_dir, [name{1} '.m']), 'file') == 2, 'no help file beside %s', name{1});
      assert(strncmp(strtrim(help(name{1})), upper(name{1}), numel(name{1})), 'no help for %s', name{1});
    end
    for name = {'sphnet_demo', 'sphnet_fit', 'sphnet_predict', 'sphnet_tune', 'sphnet_save', 'sphnet_load'}
      assert(strncmp(which(name{1}), prefix, numel(prefix)), '%s at %s', name{1}, which(name{1}));
    end

    [Nodes, NodeLabels, Presentations] = sphnet_learn([0 0; 1 0], [1; 2], 2, 10, 0, 5, 0);
    assert(Nodes, [0 0 0.5; 1 0 0.5]);
    assert(NodeLabels, [1; 2]);
    assert(Presentations, 1);
    assert(sphnet_recall(Nodes, NodeLabels, 2, [0 0; 1 0; 0.9 0], -1, 0, 0), [1; 2; 2]);
    assert(sphnet_predict(sphnet_fit([0 0; 1 0], {'a'; 'b'}), [0.9 0]), {'b'});

    % pkg test runs the %!test and %!error blocks of every installed file.
    report = evalc('pkg test sphnet');
    for name = {'sphnet_learn', 'sphnet_recall', 'sphnet_fit', 'sphnet_predict', 'sphnet_tune', ...
                'sphnet_save', 'sphnet_load'}
      counts = str2double(regexp(report, [name{1} '\.m[ .]+pass\s+(\d+)/(\d+)'], 'tokens', 'once'));
      assert(numel(counts) == 2 && counts(1) == counts(2) && counts(1) > 0, ...
             'pkg test, %s:\n%s', name{1}, report);
    end
    assert(~isempty(regexp(report, 'FAIL\s+0\n', 'once')), 'pkg test:\n%s', report);

    for name = {'sphnet_learn', 'sphnet_recall'}
      shown = evalc(sprintf('demo(''%s'', 1)', name{1}));
      assert(~isempty(strfind(shown, [name{1} ' example 1:'])) && isempty(strfind(shown, 'failed')), ...
             'demo %s:\n%s', name{1}, shown);
    end

    clear accuracy
    evalc(quick_start);
    assert(accuracy >= 0.8, 'quick start: held-out accuracy %g', accuracy);  % chance: 1/3

    if layout == 1
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
    else
      % The demo finds its data sets beside itself, away from the modules.
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
    end

    clear sphnet_learn sphnet_recall sphnet_engine  % the next install loads its own modules
    pkg('unload', 'sphnet');
    pkg('uninstall', '-local', 'sphnet');
    assert(isempty(pkg('list')));
    printf('%s: modules, help, pkg test, demos and quick start (accuracy %.2f) checked, uninstalled\n', ...
           layouts{layout}, accuracy);
  end
catch err
  fprintf(stderr, '%s\n', err.message);
  exit(1);
end
