## sphnet_learn training behaviour end to end in Octave: the node matrix, labels, presentation
## count, the console trace and summary, and the operation counters that live as long as the
## module stays loaded. Distances are Euclidean (p = 2) and the margin 0 unless stated.

%!shared P2, L2
%! ## (0,0) label 1 and (1,0) label 2: node 1 is shrunk to 0.5 by pattern 2, which then makes
%! ## node 2 of radius 0.5; the second pass creates nothing.
%! P2 = [0 0; 1 0];
%! L2 = [1; 2];

%!test # the two-pattern walk-through
%! [N, NL, Pr] = sphnet_learn (P2, L2, 2, 10, 0, 5, 0);
%! assert (N, [0 0 0.5; 1 0 0.5]);
%! assert (NL, [1; 2]);
%! assert (Pr, 1);
%! assert (class (N), 'double');
%! assert (size (Pr), [1 1]);

%!test # its summary, and counters that run on across calls until the module is cleared
%! clear sphnet_learn
%! summary = @(flops, comparisons) sprintf (['\nRCE training converged after 1 list presentation\n' ...
%!     'Training set contained 2 training patterns\n' ...
%!     '2 nodes created (50.000000%% inflation)\n' ...
%!     '%d FLOPs and %d comparisons in # seconds\n\n'], flops, comparisons);
%! out = evalc ('[N, NL, Pr] = sphnet_learn (P2, L2, 2, 10, 0, 5, 1);');
%! assert (octest_mask_seconds (out), summary (37, 6));
%! out = evalc ('[N, NL, Pr] = sphnet_learn (P2, L2, 2, 10, 0, 5, 1);');
%! assert (octest_mask_seconds (out), summary (74, 12));
%! clear sphnet_learn
%! out = evalc ('[N, NL, Pr] = sphnet_learn (P2, L2, 2, 10, 0, 5, 1);');
%! assert (octest_mask_seconds (out), summary (37, 6));
%! ## A failed call counts nothing.
%! try
%!   [N, NL, Pr] = sphnet_learn (P2, L2, 2, 10, 0, 5, 7);
%! catch
%! end_try_catch
%! out = evalc ('[N, NL, Pr] = sphnet_learn (P2, L2, 2, 10, 0, 5, 1);');
%! assert (octest_mask_seconds (out), summary (74, 12));

%!test # the walk-through traced per pattern (oflag 2); a created-node line has no newline
%! out = evalc ('[N, NL, Pr] = sphnet_learn (P2, L2, 2, 10, 0, 5, 2);');
%! expected = ["\nList presentation #1:\n" ...
%!     "   Pattern #1 created node #1 (label 1)" ...
%!     "   Pattern #2 created node #2 (label 2)" ...
%!     "\nList presentation #2:\n" ...
%!     "   Pattern #1 classified correctly by category #1 (both of label=1)\n" ...
%!     "   Pattern #2 classified correctly by category #2 (both of label=2)\n" ...
%!     "\nRCE training converged after 1 list presentation\n"];
%! assert (strncmp (out, expected, numel (expected)), true, out);

%!test # oflag 3 adds the presented lines and the conflict outcomes
%! out = evalc ('[N, NL, Pr] = sphnet_learn (P2, L2, 2, 10, 0, 5, 3);');
%! assert (numel (strfind (out, '      Pattern #1 is being presented')), 2);
%! assert (numel (strfind (out, '      Pattern #2 is being presented')), 2);
%! assert (numel (strfind (out, '      Category #1 and new node radius shrunk')), 1);
%! assert (numel (strfind (out, '      New node radius shrunk')), 1);
%! assert (isempty (strfind (out, 'never happened')));

%!test # oflag 0 prints nothing at all
%! assert (evalc ('[N, NL, Pr] = sphnet_learn (P2, L2, 2, 10, 0, 5, 0);'), '');

%!test # a margin keeps the spheres that far apart along the line between the patterns
%! [N, NL, Pr] = sphnet_learn (P2, L2, 2, 10, 0.2, 5, 0);
%! assert (N, [0 0 0.4; 1 0 0.4], 1e-15);
%! assert (NL, [1; 2]);
%! ## city-block and maximum distances measure (3,4) from (0,0) as 7 and 4
%! [N1, NL1, Pr1] = sphnet_learn ([0 0; 3 4], L2, 1, 10, 0, 5, 0);
%! assert (N1(:, end), [3.5; 3.5]);
%! [Ni, NLi, Pri] = sphnet_learn ([0 0; 3 4], L2, Inf, 10, 0, 5, 0);
%! assert (Ni(:, end), [2; 2]);

%!test # patterns of different labels farther apart than 2 Rmax + margin keep Rmax
%! [N, NL, Pr] = sphnet_learn ([0 0; 3 0], L2, 2, 1, 0.5, 5, 0);
%! assert (N, [0 0 1; 3 0 1]);
%! assert (Pr, 1);

%!test # the same pattern twice with one label makes one node
%! [N, NL, Pr] = sphnet_learn ([2 2; 2 2], [3; 3], 2, 1, 0, 5, 0);
%! assert (N, [2 2 1]);
%! assert (NL, 3);
%! assert (Pr, 1);

%!test # the same point with labels 1 and 2 makes two nodes of radius 0
%! [N, NL, Pr] = sphnet_learn ([1 1; 1 1], [1; 2], 2, 1, 0, 5, 0);
%! assert (N, [1 1 0; 1 1 0]);
%! assert (NL, [1; 2]);
%! assert (Pr, 1);

%!test # one pass allowed: training stops, singular presentation line, one presentation
%! out = evalc ('[N, NL, Pr] = sphnet_learn (P2, L2, 2, 10, 0, 1, 1);');
%! assert (strncmp (out, "\nRCE training stopped after 1 list presentation\n", 49), true, out);
%! assert (Pr, 1);
%! assert (rows (N), 2);

%!test # one node: singular count and the compression figure (1 - 3*1/(2*2)) = 25%
%! out = evalc ('[N, NL, Pr] = sphnet_learn ([0 0; 0.1 0], [1; 1], 2, 1, 0, 5, 1);');
%! assert (! isempty (strfind (out, "1 node created (25.000000% compression)\n")), true, out);

%!test # negative labels survive as they are
%! [N, NL, Pr] = sphnet_learn (P2, [-4; 7], 2, 10, 0, 5, 0);
%! assert (NL, [-4; 7]);

%!test # no patterns: an empty node set of the right width
%! [N, NL, Pr] = sphnet_learn (zeros (0, 3), zeros (0, 1), 2, 1, 0, 5, 0);
%! assert (size (N), [0 4]);
%! assert (size (NL), [0 1]);
%! assert (Pr, 0);

%!test # patterns closer than the margin never settle: each pass gives each a node of radius
%! ## -0.05 that covers nothing, so training runs to the pass limit
%! [N, NL, Pr] = sphnet_learn ([0 0; 0.5 0], [1; 2], 2, 1, 0.6, 5, 0);
%! assert (Pr, 5);
%! assert (NL, repmat ([1; 2], 5, 1));
%! assert (N(:, end), repmat (-0.05, 10, 1), 1e-15);

%!test # coordinates near 1e200 and 1e-200: distances neither overflow nor underflow, in every norm
%! for s = [1e200 1e-200]
%!   P = s * [1 0; -1 0; 1 1];
%!   for p = [1 2 1.5 Inf]
%!     [N, NL, Pr] = sphnet_learn (P, [1; 2; 1], p, Inf, 0, 5, 0);
%!     assert (N(:, end), [s; s], -1e-12);  # p = 1.5 takes pow (sum, 1/1.5): a few ulps off
%!     if (s > 1)  # at 1e-200 the coverage tolerance of 1e-8 covers every pattern
%!       assert (sphnet_recall (N, NL, p, P, -1, 0, 0), [1; 2; 1]);
%!     endif
%!   endfor
%! endfor

%!test # random patterns: converges, radii never exceed Rmax, centres are own-label patterns
%! rand ('state', 3);
%! X = rand (60, 3);
%! y = 1 + (sum (X, 2) > 1.5) + (X(:, 1) > 0.7);
%! [N, NL, Pr] = sphnet_learn (X, y, 2, 0.5, 0, 50, 0);
%! assert (Pr < 50);
%! assert (all (N(:, end) <= 0.5));
%! for j = 1:rows (N)
%!   assert (any (all (X == N(j, 1:end-1), 2) & y == NL(j)));
%! end
%! ## nearby patterns of one label share nodes
%! assert (rows (N) < rows (X));
