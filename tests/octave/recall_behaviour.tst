## sphnet_recall classification behaviour end to end in Octave: the first covering node decides,
## otherwise the nearest centre (1-NN) or the unknown label; with the console trace and summary.

%!test # where spheres overlap, the lower-numbered node wins whatever its label
%! T = [0 0 1; 0.5 0 1];
%! assert (sphnet_recall (T, [1; 2], 2, [0.25 0], -1, 0, 0), 1);
%! assert (sphnet_recall (T, [2; 1], 2, [0.25 0], -1, 0, 0), 2);
%! assert (sphnet_recall (flipud (T), [1; 2], 2, [0.25 0], -1, 0, 0), 1);

%!test # equidistant centres under the 1-NN rule: the earlier node, and the summary counts it
%! T = [0 0 0.1; 0.5 0 0.1];
%! out = evalc ('r = sphnet_recall (T, [1; 2], 2, [0.25 0], -1, 1, 1);');
%! assert (r, 1);
%! assert (! isempty (strfind (out, "Classified 1 patterns using 1-NN rule (100.000000%)\n")), true, out);
%! assert (sphnet_recall (T, [2; 1], 2, [0.25 0], -1, 1, 0), 2);

%!test # the nearest centre wins, not the nearest surface
%! ## node 1: centre 3 away, radius 2.9 (surface 0.1 away); node 2: centre 2.5 away, radius 0.1
%! T = [3 0 2.9; 0 2.5 0.1];
%! assert (sphnet_recall (T, [1; 2], 2, [0 0], -1, 1, 0), 2);
%! assert (sphnet_recall (T, [1; 2], 2, [0 0], -1, 0, 0), -1);

%!test # a radius below -1e-8 never covers, even the centre; the 1-NN rule can still choose it
%! assert (sphnet_recall ([1 1 -2e-8], 4, 2, [1 1], -1, 0, 0), -1);
%! assert (sphnet_recall ([1 1 -2e-8], 4, 2, [1 1], -1, 1, 0), 4);
%! assert (sphnet_recall ([1 1 -0.05; 0 0 1], [4; 5], 2, [1 1; 0 0], -1, 0, 0), [-1; 5]);
%! ## within the tolerance a slightly negative radius still covers its centre
%! assert (sphnet_recall ([1 1 -0.5e-8], 4, 2, [1 1], -1, 0, 0), 4);

%!test # coverage tolerance of 1e-8 beyond the radius, in all three distance forms
%! for p = [1 2 3 Inf]
%!   assert (sphnet_recall ([0 0 1], 7, p, [1 + 0.5e-8, 0], -1, 0, 0), 7);
%!   assert (sphnet_recall ([0 0 1], 7, p, [1 + 2e-8, 0], -1, 0, 0), -1);
%! end
%! ## exactly the tolerance beyond the radius still covers
%! for p = [1 Inf]
%!   assert (sphnet_recall ([0 0 0; 0 0 1], [7; 8], p, [1e-8 0], -1, 0, 0), 7);
%!   assert (sphnet_recall ([0 0 2], 7, p, [0 2 + 2^-30], -1, 0, 0), 7);
%! end
%! ## (3, 4) lies 7, 5 and 4 away from the origin under p = 1, 2, Inf
%! assert (sphnet_recall ([0 0 6.9; 0 0 7], [1; 2], 1, [3 4], -1, 0, 0), 2);
%! assert (sphnet_recall ([0 0 4.9; 0 0 5], [1; 2], 2, [3 4], -1, 0, 0), 2);
%! assert (sphnet_recall ([0 0 3.9; 0 0 4], [1; 2], Inf, [3 4], -1, 0, 0), 2);

%!test # one of four patterns unclassified: its entry is the unknown label, and the summary says so
%! clear sphnet_recall
%! T = [0 0 1; 5 0 1];
%! X = [0 0.5; 5 0.5; 10 10; 0.2 0];
%! out = evalc ('r = sphnet_recall (T, [1; 2], 2, X, -1, 0, 1);');
%! assert (r, [1; 2; -1; 1]);
%! ## six coverage tests of 8 FLOPs and one comparison each, on a freshly loaded module
%! assert (octest_mask_seconds (out), ["\nRCE performance phase summary\n" ...
%!     "unable to classify 1 patterns (25.000000%)\n" ...
%!     "48 FLOPs and 6 comparisons in # seconds\n\n"]);

%!test # every pattern covered: the summary has only its heading and the counts
%! out = evalc ('r = sphnet_recall ([0 0 1], 3, 2, [0 0; 0.5 0.5], -1, 1, 1);');
%! assert (r, [3; 3]);
%! assert (regexp (out, '^\nRCE performance phase summary\n\d+ FLOPs and \d+ comparisons in -?\d+ seconds\n\n$', 'once'), 1, out);

%!test # the per-pattern trace (oflag 2)
%! T = [0 0 1; 5 0 1];
%! X = [5 0.5; 10 10; 0.2 0];
%! out = evalc ('r = sphnet_recall (T, [1; 2], 2, X, -3, 0, 2);');
%! expected = ["\nList presentation of 3 patterns:\n" ...
%!     "   Pattern 1 inside node #2 (label 2)\n" ...
%!     "   Pattern 2 could not be classified (label -3).\n" ...
%!     "   Pattern 3 inside node #1 (label 1)\n" ...
%!     "\nRCE performance phase summary\n"];
%! assert (strncmp (out, expected, numel (expected)), true, out);
%! out = evalc ('r = sphnet_recall (T, [1; 2], 2, X, -3, 1, 3);');
%! assert (! isempty (strfind (out, "   Pattern 2 chose node #2 (label 2) via 1-NN rule\n")), true, out);
%! assert (numel (strfind (out, ' is being presented')), 3);

%!test # no nodes: uncovered patterns take the unknown label under either option
%! assert (sphnet_recall (zeros (0, 3), zeros (0, 1), 2, [1 2; 3 4], -7, 0, 0), [-7; -7]);
%! assert (sphnet_recall (zeros (0, 3), zeros (0, 1), 2, [1 2; 3 4], -7, 1, 0), [-7; -7]);

%!test # no patterns: an empty column
%! r = sphnet_recall ([0 0 1], 1, 2, zeros (0, 2), -1, 1, 0);
%! assert (size (r), [0 1]);

%!test # a call's answer never depends on the distance of the call before
%! T = [0 0 1.2; 5 5 1];
%! x = [1 1];
%! assert (sphnet_recall (T, [1; 2], Inf, x, -1, 0, 0), 1);  # max distance 1
%! assert (sphnet_recall (T, [1; 2], 1, x, -1, 0, 0), -1);   # city block 2
%! assert (sphnet_recall (T, [1; 2], Inf, x, -1, 0, 0), 1);

%!test # a node set trained by sphnet_learn classifies new patterns
%! ## three well separated clusters of 20 points each, labelled 1..3
%! rand ('state', 11);
%! centres = [0 0; 4 0; 0 4];
%! k = kron ((1:3)', ones (20, 1));
%! X = centres(k, :) + rand (60, 2) - 0.5;
%! [N, NL, Pr] = sphnet_learn (X, k, 2, 2, 0, 20, 0);
%! assert (Pr < 20);
%! ## the training patterns come back with their own labels
%! assert (sphnet_recall (N, NL, 2, X, -1, 0, 0), k);
%! ## fresh points near each centre take the cluster's label, covered or by the 1-NN rule
%! Xnew = centres(k, :) + 0.8 * (rand (60, 2) - 0.5);
%! assert (sphnet_recall (N, NL, 2, Xnew, -1, 1, 0), k);
%! ## far points are nobody's with nn_option 0
%! assert (sphnet_recall (N, NL, 2, [20 20; -20 5], -1, 0, 0), [-1; -1]);

%!test # random node sets: the module agrees with exhaustive search, under each distance
%! rand ('state', 5);
%! for p = [1 2 Inf]
%!   T = [rand(40, 3) * 4, rand(40, 1) * 0.6 - 0.05];
%!   NL = floor (rand (40, 1) * 5) - 1;
%!   X = rand (300, 3) * 4;
%!   for nn = 0:1
%!     expected = octest_recall_oracle (T, NL, p, X, -9, nn);
%!     assert (sphnet_recall (T, NL, p, X, -9, nn, 0), expected);
%!   end
%! end
