% OCTEST_REFERENCE_RUN  Trains on (Xtrain, ytrain) and classifies Xtest with the program named
% in SPHNET_TRAIN_REFERENCE, which runs the same procedures outside Octave through the stand-in
% host, and reads back its results.
%   ref = OCTEST_REFERENCE_RUN(Xtrain, ytrain, Xtest, p, Rmax, margin, maxPres, unknown, nn, oflag)
%   ref has fields Nodes, NodeLabels, Presentations, Labels, LearnConsole and RecallConsole.
function ref = octest_reference_run(Xtrain, ytrain, Xtest, p, Rmax, margin, maxPres, unknown, nn, oflag)
  program = getenv('SPHNET_TRAIN_REFERENCE');
  if (isempty(program))
    error('octest_reference_run: set SPHNET_TRAIN_REFERENCE to the train_reference program');
  end
  dir = tempname();
  mkdir(dir);
  cleanup = onCleanup(@() remove_dir(dir));
  trainFile = fullfile(dir, 'train.csv');
  testFile = fullfile(dir, 'test.csv');
  % %.17g reads back as the same double: both sides train on identical numbers.
  dlmwrite(trainFile, [Xtrain, ytrain], 'precision', '%.17g');
  dlmwrite(testFile, [Xtest, zeros(rows(Xtest), 1)], 'precision', '%.17g');
  back = dlmread(trainFile, ',');
  if (! isequal(back, [Xtrain, ytrain]))
    error('octest_reference_run: %s does not read back exactly', trainFile);
  end
  command = sprintf('"%s" "%s" "%s" "%s" %.17g %.17g %.17g %d %d %d %d', program, trainFile, ...
                    testFile, dir, p, Rmax, margin, maxPres, unknown, nn, oflag);
  [status, output] = system(command);
  if (status != 0)
    error('octest_reference_run: %s failed (%d): %s', command, status, output);
  end
  ref.Nodes = dlmread(fullfile(dir, 'nodes.csv'), ',');
  ref.NodeLabels = dlmread(fullfile(dir, 'node_labels.csv'), ',');
  ref.Presentations = dlmread(fullfile(dir, 'presentations.txt'));
  ref.Labels = dlmread(fullfile(dir, 'recall.csv'), ',');
  ref.LearnConsole = fileread(fullfile(dir, 'learn_console.txt'));
  ref.RecallConsole = fileread(fullfile(dir, 'recall_console.txt'));
end

function remove_dir(dir)
  confirm_recursive_rmdir(false, 'local');
  rmdir(dir, 's');
end
