% SPHNET_LEARN  Train an RCE sphere network on labelled patterns.
%   [Nodes, NodeLabels, Presentations] = SPHNET_LEARN(Patterns, PLabels, norm_type, ...
%                                        Rmax, margin, max_list_presentations, oflag)
%
%   Grows a Restricted Coulomb Energy (RCE) network: a list of spheres ("nodes"), each with a
%   centre, a radius and a class label. Training presents the whole pattern list again and again
%   ("list presentations"). For each pattern, in order, the nodes are scanned in creation order:
%     - a node of the pattern's own label that covers it classifies it, and the scan ends;
%     - a node of another label is tested too, at distance d from the pattern. Let r be the
%       radius a new node around the pattern would get (Rmax at first). If the node covers the
%       pattern, it is shrunk: to (d - margin)/2, and r with it, when r is at least that, else
%       to d - margin - r. If it does not cover the pattern but its sphere comes closer than
%       r + margin, r is lowered to d - radius - margin. Either way the two spheres end up
%       exactly margin apart;
%     - a pattern that no node of its own label covered becomes the centre of a new node, whose
%       radius is RMAX lowered by every conflict met on the way.
%   Training stops after a list presentation that created no node ("converged"), or when
%   MAX_LIST_PRESENTATIONS presentations have run ("stopped").
%   A pattern lies inside a node when its distance from the centre exceeds the radius by at most
%   1e-8. Distances hold for any finite coordinates: where the sum of powers would overflow or
%   underflow (e.g. coordinates near 1e200 or 1e-200), each term is scaled by the largest first.
%   Every input is checked before anything is computed; see Errors below.
%
%   Inputs (all real double):
%     Patterns   N x n matrix, one pattern per row, finite values. Standardise the columns first
%                so that no coordinate dominates the distance, keeping constant columns finite:
%                  mu = mean(X);  sigma = std(X);  sigma(sigma == 0) = 1;  X = (X - mu) ./ sigma;
%                (SPHNET_FIT does this for you with 'Standardize', true.)
%     PLabels    N x 1 or 1 x N, one class label per pattern: whole numbers in the int32 range
%                (node labels are int32; a fractional label is rejected).
%     norm_type  order p of the Minkowski distance, p >= 1: 1 city-block, 2 Euclidean,
%                Inf maximum (Chebyshev), any other p >= 1 the general power form.
%     Rmax       largest radius a node can get, Rmax >= 0 (Inf allowed).
%     margin     gap kept between spheres of different labels, finite and >= 0. Keep it small
%                against the spacing of the classes: a pattern that lies within margin of a
%                pattern or sphere of another label gets a negative radius, covers not even
%                itself, and so makes a new node on every presentation until
%                max_list_presentations.
%     max_list_presentations
%                most list presentations, truncated toward zero, then >= 1.
%     oflag      console output, truncated toward zero, then 0..3:
%                0 nothing; 1 the summary; 2 also a heading per list presentation and a line per
%                pattern outcome; 3 also a line per presented pattern and per node tested.
%   Only the first element of a vector given for a scalar argument is used.
%
%   Outputs:
%     Nodes          nodeCount x (n+1) matrix. Row j is node j: its centre (columns 1..n), then
%                    its radius (column n+1). Rows are in creation order. A radius can be
%                    negative after conflicts between identical or near patterns of different
%                    labels; such a node covers nothing, but sphnet_recall can still choose it by
%                    the 1-NN rule.
%     NodeLabels     nodeCount x 1 column, the label of each node.
%     Presentations  number of list presentations reported in the summary (a converged run does
%                    not count its last, confirming, presentation).
%   Ask for all three outputs, always (write [Nodes, NodeLabels, ~] = ... when Presentations is
%   not needed). Hand Nodes, NodeLabels and the same norm_type to SPHNET_RECALL.
%
%   Summary (oflag >= 1), as the example below prints it on a freshly loaded module:
%       RCE training converged after 1 list presentation
%       Training set contained 4 training patterns
%       2 nodes created (25.000000% compression)
%       92 FLOPs and 14 comparisons in 0 seconds
%     - "converged" when the last presentation created no node, "stopped" when the limit was hit.
%     - compression = (1 - (n+1)*nodeCount / (N*n)) * 100, the share of the training values that
%       the network no longer stores; when the nodes take more values than the patterns did, the
%       figure is printed positive and called "inflation".
%     - FLOPs and comparisons are running totals since the module was loaded (they are never
%       reset, and wrap at 2^32): subtract two summaries to get the cost of one call. Each distance
%       costs 2n+1 (p = 1), n+1 (p = Inf) or 3n+2 (other p) FLOPs.
%     - the time is in whole seconds (the difference of two whole-second clock readings).
%
%   Choosing Rmax: after standardising, distances are in units of standard deviations. A large
%   Rmax (or Inf) lets the conflicts alone set the radii: few nodes, but more presentations. A
%   small Rmax gives many small nodes, high "inflation" and many patterns that sphnet_recall
%   must label by the 1-NN rule. Start near a third to a half of the median distance between
%   training patterns (sphnet_demo uses half), e.g.
%       D = sqrt(max(sum(X.^2, 2) + sum(X.^2, 2)' - 2 * (X * X'), 0));
%       Rmax = 0.5 * median(D(:));
%   and compare a few values by cross-validation. margin = 0 is the classic rule; a small
%   positive margin leaves a no-man's-land between classes.
%
%   Example (runs as printed):
%       X = [0 0; 0.2 0.1; 1 1; 1.1 0.9];  y = [1; 1; 2; 2];
%       [Nodes, NodeLabels, Presentations] = sphnet_learn(X, y, 2, 1, 0, 10, 1)
%       Labels = sphnet_recall(Nodes, NodeLabels, 2, [0.1 0; 1 1.2; 5 5], -1, 1, 0)
%   gives Nodes = [0 0 1; 1 1 0.4142], NodeLabels = [1; 2], Presentations = 1 and
%   Labels = [1; 2; 2] (the last pattern lies in no sphere and takes its nearest node's label).
%
%   Errors: each has an identifier (err.identifier in a catch block), listed here with the
%   messages that go with it; every message starts with "SPHNET_LEARN: ".
%     sphnet:learn:inputCount               7 input arguments required.
%     sphnet:learn:badPatterns              1st input argument (Patterns) must be a real double matrix.
%                                           ... must be  a two dimensional array (matrix).
%                                           ... is too large.
%                                           ... must not contain NaN or Inf.
%     sphnet:learn:badLabels                2nd input argument (PLabels) must be a real double vector.
%                                           ... must a vector.
%                                           ... must be of type  Nx1 or 1xN.   (N = rows of Patterns)
%                                           ... must not contain NaN.
%                                           ... must lie within the 32-bit integer range.
%                                           ... must hold whole numbers.
%     sphnet:learn:badNormType              3rd input argument (norm_type) must be a real double scalar.
%                                           ... must be a scalar.
%                                           ... must be >= 1.
%     sphnet:learn:badRmax                  4th input argument (Rmax) must be a real double scalar.
%                                           ... must be a scalar.
%                                           ... must be non-negative.
%     sphnet:learn:badMargin                5th input argument (margin) must be a real double scalar.
%                                           ... must be a scalar.
%                                           ... must be non-negative.
%                                           ... must be finite.
%     sphnet:learn:badMaxListPresentations  6th input argument (max_list_presentations) must be a
%                                           real double scalar.
%                                           ... must be scalar.
%                                           ... must be >= 1
%     sphnet:learn:badOflag                 7th input argument (oflag) must be a real double scalar.
%                                           7th input argument (oflag) must be scalar.  (not 2-D, or empty)
%                                           7th input argument must be scalar.  (no dimension of size 1)
%                                           7th input argument (oflag) must be 0,1,2 or 3
%     sphnet:learn:outputCount              3 output arguments required.
%     sphnet:learn:outOfMemory              Not enough memory available; unable to run!
%     sphnet:learn:interrupted              Interrupted by the user.  (MATLAB; Octave reports its own)
%   ("..." repeats the ordinal and name of the line above.)
%   A scalar argument must be a non-empty real double array with a dimension of size 1.
%
%   See also SPHNET_FIT, SPHNET_PREDICT, SPHNET_RECALL, SPHNET_DEMO.

%!shared X, y
%! X = [0 0; 0.2 0.1; 1 1; 1.1 0.9];
%! y = [1; 1; 2; 2];

%!function X = recipe_result (X, recipe)
%!  eval (recipe);
%!endfunction

%!test
%! ## The help's standardisation recipe keeps the constant columns of digits finite.
%! recipe = regexp (help ('sphnet_learn'), 'mu = mean\(X\);[^\n]*', 'match', 'once');
%! D = csvread (fullfile (fileparts (which ('sphnet_demo')), 'data', 'digits.csv'));
%! Z = recipe_result (D(:, 1:end-1), recipe);
%! assert (! isempty (recipe) && any (std (D(:, 1:end-1)) == 0) && all (isfinite (Z(:))));

%!test
%! ## Two patterns of different labels, Rmax 10: node 1 is shrunk to half the distance, and
%! ## the second pass only confirms (converged after one presentation).
%! [N, L, P] = sphnet_learn([0 0; 1 0], [1; 2], 2, 10, 0, 5, 0);
%! assert (N, [0 0 0.5; 1 0 0.5]);
%! assert (L, [1; 2]);
%! assert (P, 1);

%!test
%! ## Far apart classes keep Rmax; the output shapes follow the node matrix format.
%! [N, L, P] = sphnet_learn(X, y, 2, 0.5, 0, 10, 0);
%! assert (size (N), [2 3]);
%! assert (N(:, 3), [0.5; 0.5]);
%! assert (L, [1; 2]);
%! assert (P, 1);

%!test
%! ## Training patterns are classified by their own nodes, for every norm.
%! for p = [1 1.5 2 Inf]
%!   [N, L, ~] = sphnet_learn(X, y, p, 10, 0.1, 20, 0);
%!   assert (sphnet_recall (N, L, p, X, -1, 0, 0), y);
%! end

%!test
%! ## Row and column label vectors give the same network; only the first element of a vector
%! ## argument is read.
%! [N1, L1, ~] = sphnet_learn(X, y, 2, 10, 0, 5, 0);
%! [N2, L2, ~] = sphnet_learn(X, y', 2, 10, 0, 5, [0 3]);
%! assert (N2, N1);
%! assert (L2, L1);

%!test
%! ## The same point with two labels and margin 0: two nodes of radius 0.
%! [N, L, ~] = sphnet_learn([1 1; 1 1], [1; 2], 2, 3, 0, 4, 0);
%! assert (N, [1 1 0; 1 1 0]);
%! assert (L, [1; 2]);

%!test
%! ## A fractional label would never match its node's int32 label: it is rejected.
%! try
%!   [N, L, P] = sphnet_learn([0 0], 1.7, 2, 1, 0, 4, 0);
%!   error ('a fractional label must be rejected');
%! catch err
%!   assert (err.identifier, 'sphnet:learn:badLabels');
%! end_try_catch

%!test
%! ## Two patterns of different labels closer than margin: their nodes get negative radii and
%! ## never cover them, so each presentation adds two nodes until the limit.
%! [N, L, P] = sphnet_learn ([0 0; 1 0; 1.1 0], [1; 2; 3], 2, 1, 0.3, 5, 0);
%! assert (P, 5);
%! assert (rows (N), 1 + 2 * 5);
%! assert (L', [1 repmat([2 3], 1, 5)]);
%! assert (N(1, 3), 0.35, 1e-12);
%! assert (N(2:end, 3), -0.1 * ones (10, 1), 1e-12);

%!test
%! ## Truncated integer arguments: oflag 3.9 and -0.5, max_list_presentations 1.9.
%! [~, ~, P] = sphnet_learn(X, y, 2, 1, 0, 1.9, -0.5);
%! assert (P, 1);
%! out = evalc ("[~, ~, P] = sphnet_learn(X, y, 2, 1, 0, 1.9, 3.9);");
%! assert (! isempty (strfind (out, "Pattern #4 is being presented")));

%!test
%! ## The summary: stopped/converged, singular presentation, compression or inflation, and
%! ## counters that run on from call to call (37 FLOPs, 6 comparisons for this problem).
%! a = evalc ("[~, ~, ~] = sphnet_learn([0 0; 1 0], [1; 2], 2, 10, 0, 5, 1);");
%! b = evalc ("[~, ~, ~] = sphnet_learn([0 0; 1 0], [1; 2], 2, 10, 0, 5, 1);");
%! assert (! isempty (strfind (a, "RCE training converged after 1 list presentation\n")));
%! assert (! isempty (strfind (a, "Training set contained 2 training patterns\n")));
%! assert (! isempty (strfind (a, "2 nodes created (50.000000% inflation)\n")));
%! fa = str2double (regexp (a, '(\d+) FLOPs and (\d+) comparisons', 'tokens', 'once'));
%! fb = str2double (regexp (b, '(\d+) FLOPs and (\d+) comparisons', 'tokens', 'once'));
%! assert (mod (fb(:) - fa(:), 2^32), [37; 6]);
%! c = evalc ("[~, ~, ~] = sphnet_learn([0 0; 0.1 0; 5 5; 5.1 5], [1; 1; 2; 2], 2, 1, 0, 1, 1);");
%! assert (! isempty (strfind (c, "RCE training stopped after 1 list presentation\n")));
%! assert (! isempty (strfind (c, "2 nodes created (25.000000% compression)\n")));
%! assert (isempty (evalc ("[~, ~, ~] = sphnet_learn(X, y, 2, 1, 0, 5, 0);")));

%!test
%! ## Empty training set: no nodes, an n+1 column node matrix.
%! [N, L, P] = sphnet_learn(zeros (0, 3), zeros (0, 1), 2, 1, 0, 5, 0);
%! assert (size (N), [0 4]);
%! assert (size (L), [0 1]);

## Test input validation
%!error <SPHNET_LEARN: 7 input arguments required\.> sphnet_learn (X, y, 2, 1, 0, 5)
%!error <SPHNET_LEARN: 1st input argument \(Patterns\) must be a real double matrix\.>
%! [a, b, c] = sphnet_learn (single (X), y, 2, 1, 0, 5, 0);
%!error <SPHNET_LEARN: 1st input argument \(Patterns\) must be  a two dimensional array \(matrix\)\.>
%! [a, b, c] = sphnet_learn (ones (2, 2, 2), y, 2, 1, 0, 5, 0);
%!error <SPHNET_LEARN: 1st input argument \(Patterns\) must not contain NaN or Inf\.>
%! [a, b, c] = sphnet_learn ([X(1:3, :); NaN 0], y, 2, 1, 0, 5, 0);
%!error <SPHNET_LEARN: 2nd input argument \(PLabels\) must be a real double vector\.>
%! [a, b, c] = sphnet_learn (X, int32 (y), 2, 1, 0, 5, 0);
%!error <SPHNET_LEARN: 2nd input argument \(PLabels\) must a vector\.>
%! [a, b, c] = sphnet_learn (X, ones (4, 1, 2), 2, 1, 0, 5, 0);
%!error <SPHNET_LEARN: 2nd input argument \(PLabels\) must be of type  3x1 or 1x3\.>
%! [a, b, c] = sphnet_learn (X(1:3, :), ones (3), 2, 1, 0, 5, 0);
%!error <SPHNET_LEARN: 2nd input argument \(PLabels\) must be of type  4x1 or 1x4\.>
%! [a, b, c] = sphnet_learn (X, [1; 2; 1], 2, 1, 0, 5, 0);
%!error <SPHNET_LEARN: 2nd input argument \(PLabels\) must not contain NaN\.>
%! [a, b, c] = sphnet_learn (X, [1; 2; NaN; 1], 2, 1, 0, 5, 0);
%!error <SPHNET_LEARN: 2nd input argument \(PLabels\) must lie within the 32-bit integer range\.>
%! [a, b, c] = sphnet_learn (X, [1; 2; 2^31; 1], 2, 1, 0, 5, 0);
%!error <SPHNET_LEARN: 3rd input argument \(norm_type\) must be a scalar\.>
%! [a, b, c] = sphnet_learn (X, y, ones (2), 1, 0, 5, 0);
%!error <SPHNET_LEARN: 3rd input argument \(norm_type\) must be a real double scalar\.>
%! [a, b, c] = sphnet_learn (X, y, "2", 1, 0, 5, 0);
%!error <SPHNET_LEARN: 3rd input argument \(norm_type\) must be .= 1\.>
%! [a, b, c] = sphnet_learn (X, y, 0.5, 1, 0, 5, 0);
%!error <SPHNET_LEARN: 3rd input argument \(norm_type\) must be .= 1\.>
%! [a, b, c] = sphnet_learn (X, y, NaN, 1, 0, 5, 0);
%!error <SPHNET_LEARN: 4th input argument \(Rmax\) must be a scalar\.>
%! [a, b, c] = sphnet_learn (X, y, 2, [], 0, 5, 0);
%!error <SPHNET_LEARN: 4th input argument \(Rmax\) must be non-negative\.>
%! [a, b, c] = sphnet_learn (X, y, 2, -1, 0, 5, 0);
%!error <SPHNET_LEARN: 5th input argument \(margin\) must be a scalar\.>
%! [a, b, c] = sphnet_learn (X, y, 2, 1, ones (2), 5, 0);
%!error <SPHNET_LEARN: 5th input argument \(margin\) must be non-negative\.>
%! [a, b, c] = sphnet_learn (X, y, 2, 1, -0.1, 5, 0);
%!error <SPHNET_LEARN: 5th input argument \(margin\) must be finite\.>
%! [a, b, c] = sphnet_learn (X, y, 2, 1, Inf, 5, 0);
%!error <SPHNET_LEARN: 6th input argument \(max_list_presentations\) must be scalar\.>
%! [a, b, c] = sphnet_learn (X, y, 2, 1, 0, ones (2), 0);
%!error <SPHNET_LEARN: 6th input argument \(max_list_presentations\) must be a real double scalar\.>
%! [a, b, c] = sphnet_learn (X, y, 2, 1, 0, true, 0);
%!error <SPHNET_LEARN: 6th input argument \(max_list_presentations\) must be .= 1>
%! [a, b, c] = sphnet_learn (X, y, 2, 1, 0, 0.9, 0);
%!error <SPHNET_LEARN: 7th input argument \(oflag\) must be a real double scalar\.>
%! [a, b, c] = sphnet_learn (X, y, 2, 1, 0, 5, int8 (1));
%!error <SPHNET_LEARN: 7th input argument \(oflag\) must be scalar\.>
%! [a, b, c] = sphnet_learn (X, y, 2, 1, 0, 5, ones (1, 1, 2));
%!error <SPHNET_LEARN: 7th input argument must be scalar\.>
%! [a, b, c] = sphnet_learn (X, y, 2, 1, 0, 5, ones (2));
%!error <SPHNET_LEARN: 7th input argument \(oflag\) must be 0,1,2 or 3>
%! [a, b, c] = sphnet_learn (X, y, 2, 1, 0, 5, 4);
%!error <SPHNET_LEARN: 7th input argument \(oflag\) must be 0,1,2 or 3>
%! [a, b, c] = sphnet_learn (X, y, 2, 1, 0, 5, -1);
%!error <SPHNET_LEARN: 3 output arguments required\.>
%! [a, b] = sphnet_learn (X, y, 2, 1, 0, 5, 0);
%!error <SPHNET_LEARN: 3rd input argument \(norm_type\) must be .= 1\.>
%! [a, b] = sphnet_learn (X, y, 0, 1, 0, 5, 0);

%!demo
%! ## Two classes in the plane: one sphere per class, and the summary of the run.
%! X = [0 0; 0.2 0.1; 1 1; 1.1 0.9];
%! y = [1; 1; 2; 2];
%! [Nodes, NodeLabels, Presentations] = sphnet_learn (X, y, 2, 1, 0, 10, 1)
