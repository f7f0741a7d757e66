% SPHNET_RECALL  Classify patterns with a trained RCE sphere network.
%   Labels = SPHNET_RECALL(Templates, NLabels, norm_type, Patterns, unknown_label, nn_option, oflag)
%
%   Gives each pattern (each row of Patterns) the label of the FIRST node, in row order of
%   Templates, whose sphere covers it: its distance from the centre exceeds the radius by at most
%   1e-8. Nothing votes: when spheres of different labels overlap, the lower-numbered node wins.
%   A pattern that no sphere covers falls back:
%     nn_option 1  the 1-NN rule: the label of the node with the nearest CENTRE (radii play no
%                  part; ties go to the earlier node). With no nodes at all, unknown_label.
%     nn_option 0  unknown_label.
%   Every input is checked before anything is computed; see Errors below.
%
%   Inputs (all real double):
%     Templates      M x (n+1) node matrix: row j is node j's centre (n values), then its radius.
%                    Normally the Nodes output of SPHNET_LEARN; edited or hand-made node matrices
%                    are welcome. No NaN anywhere; centres finite; radii may be Inf or negative (a
%                    negative radius covers nothing, but the 1-NN rule can still choose the node).
%     NLabels        M x 1 or 1 x M, one label per node (the NodeLabels output of SPHNET_LEARN):
%                    no NaN, within the int32 range; truncated toward zero.
%     norm_type      order p of the Minkowski distance, p >= 1: 1 city-block, 2 Euclidean, Inf
%                    maximum. Use the value the network was trained with.
%     Patterns       P x n matrix of finite values, one pattern per row, with the same n (and the
%                    same standardisation) as the training patterns.
%     unknown_label  label for patterns that stay unclassified, truncated toward zero, within the
%                    int32 range (e.g. -1 or 0, a value no class uses).
%     nn_option      truncated toward zero, then 0 or 1 (see above).
%     oflag          console output, truncated toward zero, then 0..3: 0 nothing; 1 the summary;
%                    2 also a line per pattern saying which node labelled it or that it fell back;
%                    3 also a line as each pattern is presented.
%   Only the first element of a vector given for a scalar argument is used.
%   Ask for exactly one output: Labels = sphnet_recall(...), even at the command line.
%
%   Output:
%     Labels         P x 1 column, the label given to each pattern (unknown_label for patterns
%                    that fell back with nn_option 0).
%
%   Summary (oflag >= 1), as the first call of the example below prints it on a freshly loaded
%   module:
%       RCE performance phase summary
%       Classified 1 patterns using 1-NN rule (33.333333%)
%       40 FLOPs and 5 comparisons in 0 seconds
%     - The middle line appears only when some pattern fell back. It reads "Classified K patterns
%       using 1-NN rule" with nn_option 1 and "unable to classify K patterns" with nn_option 0,
%       then the share of the P patterns in percent. Many fallbacks mean the spheres cover the
%       data poorly: Rmax may be small for the data, or the test data lie away from the training
%       data. In many dimensions half or more of new patterns fall back even with a good Rmax
%       (see the table of sphnet_demo); the 1-NN rule then does most of the work.
%     - FLOPs and comparisons are running totals since the module was loaded, shared with
%       nothing else (sphnet_learn keeps its own). Subtract two summaries to get the cost of
%       one call.
%     - The time is in whole seconds.
%
%   Example (runs as printed):
%       X = [0 0; 0.2 0.1; 1 1; 1.1 0.9];  y = [1; 1; 2; 2];
%       [Nodes, NodeLabels, ~] = sphnet_learn(X, y, 2, 0.3, 0, 10, 0);
%       Labels = sphnet_recall(Nodes, NodeLabels, 2, [0.1 0; 1 1.2; 0.5 0.5], -1, 1, 1)
%       Labels = sphnet_recall(Nodes, NodeLabels, 2, [0.1 0; 1 1.2; 0.5 0.5], -1, 0, 0)
%   The first call labels [1; 2; 1] (the middle point (0.5, 0.5) lies in no sphere and is
%   nearest to node 1's centre); the second labels it -1 instead.
%
%   Errors, by identifier (err.identifier in a catch block), with their messages, each of
%   which starts with "SPHNET_RECALL: " (as those of SPHNET_LEARN, whose list is alike):
%     sphnet:recall:inputCount       7 input arguments required.
%     sphnet:recall:badTemplates     1st input argument (Templates) must be a real double matrix.
%                                    ... must be  a two dimensional array (matrix).
%                                    ... is too large.
%                                    ... must have a column for the radius.
%                                    ... must not contain NaN.
%                                    ... must have finite centres.
%     sphnet:recall:badNodeLabels    2nd input argument (NLabels) must be a real double vector.
%                                    ... must a vector.
%                                    ... must be of type  Mx1 or 1xM.   (M = rows of Templates)
%                                    ... must not contain NaN.
%                                    ... must lie within the 32-bit integer range.
%     sphnet:recall:badNormType      3rd input argument (norm_type) must be a real double scalar.
%                                    ... must be a scalar.
%                                    ... must be >= 1.
%     sphnet:recall:badPatterns      4th input argument (Patterns) must be a real double matrix.
%                                    ... must be  a two dimensional array (matrix).
%                                    ... is too large.
%                                    ... must be of type  Pxn.   (P its rows, n = columns of
%                                                                 Templates - 1)
%                                    ... must not contain NaN or Inf.
%     sphnet:recall:badUnknownLabel  5th input argument (unknown_label) must be a real double scalar.
%                                    ... must be a scalar.
%                                    ... must lie within the 32-bit integer range.
%     sphnet:recall:badNnOption      6th input argument (nn_option) must be a real double scalar.
%                                    ... must be a scalar.
%                                    ... must be either 0 or 1.
%     sphnet:recall:badOflag         7th input argument (oflag) must be a real double scalar.
%                                    ... must be scalar.
%                                    ... must be 0,1,2 or 3.
%     sphnet:recall:outputCount      1 output argument required.
%     sphnet:recall:outOfMemory      Not enough memory available; unable to run!
%     sphnet:recall:interrupted      Interrupted by the user.  (MATLAB; Octave reports its own)
%   ("..." repeats the ordinal and name of the line above.)
%   A scalar argument must be a non-empty real double array with a dimension of size 1.
%
%   See also SPHNET_LEARN, SPHNET_DEMO.

%!shared T, L
%! ## Two overlapping unit circles, labels 1 and 2.
%! T = [0 0 1; 0.5 0 1];
%! L = [1; 2];

%!test
%! ## The first covering node wins; nothing votes.
%! assert (sphnet_recall (T, L, 2, [0.25 0], -1, 0, 0), 1);
%! assert (sphnet_recall (flipud (T), flipud (L), 2, [0.25 0], -1, 0, 0), 2);
%! assert (sphnet_recall (T, L, 2, [1.4 0; -0.9 0], -1, 0, 0), [2; 1]);

%!test
%! ## Fallback: the 1-NN rule picks the nearest centre, ties go to the earlier node;
%! ## nn_option 0 gives unknown_label (truncated toward zero).
%! Ts = [0 0 0.1; 0.5 0 0.1];
%! assert (sphnet_recall (Ts, L, 2, [0.25 0; 0.4 0; 0.1 0.3], -1, 1, 0), [1; 2; 1]);
%! assert (sphnet_recall (Ts, L, 2, [0.25 0; 0 0.05], -1.9, 0, 0), [-1; 1]);
%! ## Nearest centre, not nearest surface: a big sphere at distance 3 loses to a small one at 2.5.
%! assert (sphnet_recall ([3 0 2.9; 0 2.5 0.1], [7; 8], 2, [0 0], 0, 1, 0), 8);

%!test
%! ## A negative radius covers nothing, not even its own centre, but 1-NN can still choose it.
%! assert (sphnet_recall ([0 0 -0.05], 4, 2, [0 0], -1, 0, 0), -1);
%! assert (sphnet_recall ([0 0 -0.05], 4, 2, [0 0], -1, 1, 0), 4);

%!test
%! ## The coverage tolerance is 1e-8 and the norm decides the distance.
%! assert (sphnet_recall ([0 0 5], 1, 2, [3 4+0.5e-8; 3 4+2e-8], -1, 0, 0), [1; -1]);
%! assert (sphnet_recall ([0 0 4], 1, Inf, [3 4; 3 4.1], -1, 0, 0), [1; -1]);
%! assert (sphnet_recall ([0 0 7], 1, 1, [3 4; 3 4.1], -1, 0, 0), [1; -1]);

%!test
%! ## No nodes at all: every pattern takes unknown_label, whatever nn_option says.
%! assert (sphnet_recall (zeros (0, 3), zeros (0, 1), 2, [1 2; 3 4], -1, 1, 0), [-1; -1]);
%! ## No patterns: an empty column.
%! assert (size (sphnet_recall (T, L, 2, zeros (0, 2), -1, 1, 0)), [0 1]);

%!test
%! ## Truncated arguments: nn_option 1.5 acts as 1, oflag -0.5 as 0; 1 x M labels accepted.
%! Ts = [0 0 0.1; 0.5 0 0.1];
%! assert (sphnet_recall (Ts, L', 2, [0.4 0], -1, 1.5, -0.5), 2);

%!test
%! ## The summary: fallback line only when something fell back, with its share of P.
%! Ts = [0 0 0.1; 0.5 0 0.1];
%! a = evalc ("Labels = sphnet_recall (Ts, L, 2, [0 0; 1 1; 0.5 0; 0.5 0], -1, 0, 1);");
%! assert (! isempty (strfind (a, "\nRCE performance phase summary\nunable to classify 1 patterns (25.000000%)\n")));
%! b = evalc ("Labels = sphnet_recall (Ts, L, 2, [1 1; 0.5 0], -1, 1, 1);");
%! assert (! isempty (strfind (b, "Classified 1 patterns using 1-NN rule (50.000000%)\n")));
%! c = evalc ("Labels = sphnet_recall (Ts, L, 2, [0 0; 0.5 0], -1, 1, 1);");
%! assert (isempty (strfind (c, "1-NN")));
%! assert (! isempty (regexp (c, 'summary\n\d+ FLOPs and \d+ comparisons in \d+ seconds\n\n$')));
%! d = evalc ("Labels = sphnet_recall (Ts, L, 2, [1 1], -1, 1, 2);");
%! assert (! isempty (strfind (d, "Pattern 1 chose node #2 (label 2) via 1-NN rule\n")));
%! assert (isempty (evalc ("Labels = sphnet_recall (Ts, L, 2, [1 1], -1, 1, 0);")));

%!test
%! ## End to end with training: the training set itself is labelled correctly.
%! X = [0 0; 0.2 0.1; 1 1; 1.1 0.9; 0.6 0.4];
%! y = [1; 1; 2; 2; 3];
%! [N, NL, ~] = sphnet_learn (X, y, 2, 2, 0, 20, 0);
%! assert (sphnet_recall (N, NL, 2, X, -1, 0, 0), y);

## Test input validation
%!error <SPHNET_RECALL: 7 input arguments required\.> sphnet_recall (T, L, 2, [0 0], -1, 1)
%!error <SPHNET_RECALL: 1st input argument \(Templates\) must be a real double matrix\.>
%! Labels = sphnet_recall (single (T), L, 2, [0 0], -1, 1, 0);
%!error <SPHNET_RECALL: 1st input argument \(Templates\) must be  a two dimensional array \(matrix\)\.>
%! Labels = sphnet_recall (ones (2, 3, 2), L, 2, [0 0], -1, 1, 0);
%!error <SPHNET_RECALL: 1st input argument \(Templates\) must have a column for the radius\.>
%! Labels = sphnet_recall (zeros (2, 0), L, 2, [0 0], -1, 1, 0);
%!error <SPHNET_RECALL: 1st input argument \(Templates\) must not contain NaN\.>
%! Labels = sphnet_recall ([0 0 NaN; 0.5 0 1], L, 2, [0 0], -1, 1, 0);
%!error <SPHNET_RECALL: 1st input argument \(Templates\) must have finite centres\.>
%! Labels = sphnet_recall ([0 Inf 1; 0.5 0 1], L, 2, [0 0], -1, 1, 0);
%!error <SPHNET_RECALL: 2nd input argument \(NLabels\) must be a real double vector\.>
%! Labels = sphnet_recall (T, int32 (L), 2, [0 0], -1, 1, 0);
%!error <SPHNET_RECALL: 2nd input argument \(NLabels\) must a vector\.>
%! Labels = sphnet_recall (T, ones (2, 1, 2), 2, [0 0], -1, 1, 0);
%!error <SPHNET_RECALL: 2nd input argument \(NLabels\) must be of type  2x1 or 1x2\.>
%! Labels = sphnet_recall (T, [1; 2; 3], 2, [0 0], -1, 1, 0);
%!error <SPHNET_RECALL: 2nd input argument \(NLabels\) must not contain NaN\.>
%! Labels = sphnet_recall (T, [1; NaN], 2, [0 0], -1, 1, 0);
%!error <SPHNET_RECALL: 2nd input argument \(NLabels\) must lie within the 32-bit integer range\.>
%! Labels = sphnet_recall (T, [1; -2^32], 2, [0 0], -1, 1, 0);
%!error <SPHNET_RECALL: 3rd input argument \(norm_type\) must be a scalar\.>
%! Labels = sphnet_recall (T, L, ones (2), [0 0], -1, 1, 0);
%!error <SPHNET_RECALL: 3rd input argument \(norm_type\) must be .= 1\.>
%! Labels = sphnet_recall (T, L, 0.5, [0 0], -1, 1, 0);
%!error <SPHNET_RECALL: 4th input argument \(Patterns\) must be a real double matrix\.>
%! Labels = sphnet_recall (T, L, 2, {0 0}, -1, 1, 0);
%!error <SPHNET_RECALL: 4th input argument \(Patterns\) must be  a two dimensional array \(matrix\)\.>
%! Labels = sphnet_recall (T, L, 2, ones (1, 2, 2), -1, 1, 0);
%!error <SPHNET_RECALL: 4th input argument \(Patterns\) must be of type  4x4\.>
%! Labels = sphnet_recall (ones (3, 5), [1; 2; 3], 2, ones (4, 3), -1, 1, 0);
%!error <SPHNET_RECALL: 4th input argument \(Patterns\) must not contain NaN or Inf\.>
%! Labels = sphnet_recall (T, L, 2, [0 Inf], -1, 1, 0);
%!error <SPHNET_RECALL: 5th input argument \(unknown_label\) must be a scalar\.>
%! Labels = sphnet_recall (T, L, 2, [0 0], [], 1, 0);
%!error <SPHNET_RECALL: 5th input argument \(unknown_label\) must be a real double scalar\.>
%! Labels = sphnet_recall (T, L, 2, [0 0], int32 (-1), 1, 0);
%!error <SPHNET_RECALL: 5th input argument \(unknown_label\) must lie within the 32-bit integer range\.>
%! Labels = sphnet_recall (T, L, 2, [0 0], NaN, 1, 0);
%!error <SPHNET_RECALL: 6th input argument \(nn_option\) must be a scalar\.>
%! Labels = sphnet_recall (T, L, 2, [0 0], -1, ones (2), 0);
%!error <SPHNET_RECALL: 6th input argument \(nn_option\) must be either 0 or 1\.>
%! Labels = sphnet_recall (T, L, 2, [0 0], -1, 2, 0);
%!error <SPHNET_RECALL: 7th input argument \(oflag\) must be scalar\.>
%! Labels = sphnet_recall (T, L, 2, [0 0], -1, 1, ones (2));
%!error <SPHNET_RECALL: 7th input argument \(oflag\) must be a real double scalar\.>
%! Labels = sphnet_recall (T, L, 2, [0 0], -1, 1, true);
%!error <SPHNET_RECALL: 7th input argument \(oflag\) must be 0,1,2 or 3\.>
%! Labels = sphnet_recall (T, L, 2, [0 0], -1, 1, 4);
%!error <SPHNET_RECALL: 1 output argument required\.>
%! [a, b] = sphnet_recall (T, L, 2, [0 0], -1, 1, 0);
%!error <SPHNET_RECALL: 1 output argument required\.>
%! sphnet_recall (T, L, 2, [0 0], -1, 1, 0);

%!demo
%! ## Label new points: two lie inside spheres, the third outside every sphere gets its nearest
%! ## node's label with nn_option 1, unknown_label (-1) with nn_option 0.
%! X = [0 0; 0.2 0.1; 1 1; 1.1 0.9];
%! y = [1; 1; 2; 2];
%! [Nodes, NodeLabels, ~] = sphnet_learn (X, y, 2, 0.3, 0, 10, 0);
%! P = [0.1 0; 1 1.2; 0.5 0.5];
%! by_nearest_node = sphnet_recall (Nodes, NodeLabels, 2, P, -1, 1, 0)
%! unknown_outside = sphnet_recall (Nodes, NodeLabels, 2, P, -1, 0, 0)
