## The modules loaded into Octave against the same procedures run outside Octave through the
## stand-in host (the train_reference program): identical inputs must give identical doubles
## (isequal, no tolerance) for the nodes, their labels, the presentation count and the recalled
## labels, and the same console text, on the iris and wine data. Each case trains on every
## other pattern and classifies the rest, after clearing both modules so that their operation
## counters start from zero, as the reference program's do.

%!function [mine, ref] = compare_with_reference (name, standardise, p, Rmax, margin, maxPres, unknown, nn, oflag)
%!  [X, y] = octest_load_dataset (name);
%!  tr = 1:2:rows (X);
%!  te = 2:2:rows (X);
%!  Xtr = X(tr, :);
%!  Xte = X(te, :);
%!  if (standardise)
%!    [Xtr, Xte] = octest_standardise (Xtr, Xte);
%!  end
%!  clear sphnet_learn sphnet_recall
%!  mine.LearnConsole = evalc ('[mine.Nodes, mine.NodeLabels, mine.Presentations] = sphnet_learn (Xtr, y(tr), p, Rmax, margin, maxPres, oflag);');
%!  mine.RecallConsole = evalc ('mine.Labels = sphnet_recall (mine.Nodes, mine.NodeLabels, p, Xte, unknown, nn, oflag);');
%!  ref = octest_reference_run (Xtr, y(tr), Xte, p, Rmax, margin, maxPres, unknown, nn, oflag);
%!  assert (isequal (mine.Nodes, ref.Nodes), true, 'Nodes differ');
%!  assert (isequal (mine.NodeLabels, ref.NodeLabels), true, 'NodeLabels differ');
%!  assert (isequal (mine.Presentations, ref.Presentations), true, 'Presentations differ');
%!  assert (isequal (mine.Labels, ref.Labels), true, 'recalled labels differ');
%!  assert (octest_mask_seconds (mine.LearnConsole), octest_mask_seconds (ref.LearnConsole));
%!  assert (octest_mask_seconds (mine.RecallConsole), octest_mask_seconds (ref.RecallConsole));
%!endfunction

%!test # raw iris, Euclidean, 1-NN fallback, summaries
%! [mine, ref] = compare_with_reference ('iris', false, 2, 1, 0, 50, -1, 1, 1);
%! assert (rows (mine.Nodes) > 3);
%! assert (! isempty (strfind (mine.LearnConsole, 'RCE training converged')));

%!test # standardised iris, city-block distance, a margin, full per-pattern trace
%! [mine, ref] = compare_with_reference ('iris', true, 1, 2, 0.1, 20, -1, 1, 2);
%! assert (! isempty (strfind (mine.LearnConsole, 'List presentation #1:')));

%!test # standardised iris, maximum distance, unknown label instead of 1-NN, level-3 trace
%! [mine, ref] = compare_with_reference ('iris', true, Inf, 1.5, 0, 50, 0, 0, 3);
%! assert (! isempty (strfind (mine.LearnConsole, 'is being presented')));

%!test # standardised iris, the general power form of the distance
%! [mine, ref] = compare_with_reference ('iris', true, 3, 1, 0.05, 10, -1, 1, 1);

%!test # raw iris with a fractional order and a tight pass limit
%! [mine, ref] = compare_with_reference ('iris', false, 1.5, 0.8, 0, 1, -1, 1, 1);
%! assert (! isempty (strfind (mine.LearnConsole, 'RCE training stopped after 1 list presentation')));

%!test # standardised wine, 13 features
%! [mine, ref] = compare_with_reference ('wine', true, 2, 1.8, 0, 50, -1, 1, 1);
%! assert (rows (mine.Nodes) > 3);
