## sphnet_learn argument checking, as seen from Octave: every bad argument ends the call with
## its own message, raised through the host, and Octave carries on with the next call.
## Patterns P (3 patterns in 2-D) and labels L are valid; each case spoils one argument.

%!shared P, L
%! P = [0 0; 1 0; 0 1];
%! L = [1; 2; 1];

## Input count
%!error <^sphnet_learn: SPHNET_LEARN: 7 input arguments required\.$> [N, NL, Pr] = sphnet_learn (P, L, 2, 1, 0, 5)
%!error <^sphnet_learn: SPHNET_LEARN: 7 input arguments required\.$> [N, NL, Pr] = sphnet_learn (P, L, 2, 1, 0, 5, 0, 0)
%!error <^sphnet_learn: SPHNET_LEARN: 7 input arguments required\.$> [N, NL, Pr] = sphnet_learn ()

## 1st argument: Patterns
%!error <^sphnet_learn: SPHNET_LEARN: 1st input argument \(Patterns\) must be  a two dimensional array \(matrix\)\.$> [N, NL, Pr] = sphnet_learn (zeros (3, 2, 2), L, 2, 1, 0, 5, 0)
%!error <^sphnet_learn: SPHNET_LEARN: 1st input argument \(Patterns\) must be a real double matrix\.$> [N, NL, Pr] = sphnet_learn (single (P), L, 2, 1, 0, 5, 0)
%!error <^sphnet_learn: SPHNET_LEARN: 1st input argument \(Patterns\) must be a real double matrix\.$> [N, NL, Pr] = sphnet_learn (int32 (P), L, 2, 1, 0, 5, 0)
%!error <^sphnet_learn: SPHNET_LEARN: 1st input argument \(Patterns\) must be a real double matrix\.$> [N, NL, Pr] = sphnet_learn (logical (P), L, 2, 1, 0, 5, 0)
%!error <^sphnet_learn: SPHNET_LEARN: 1st input argument \(Patterns\) must be a real double matrix\.$> [N, NL, Pr] = sphnet_learn (['ab'; 'cd'; 'ef'], L, 2, 1, 0, 5, 0)
%!error <^sphnet_learn: SPHNET_LEARN: 1st input argument \(Patterns\) must be a real double matrix\.$> [N, NL, Pr] = sphnet_learn ({0, 0; 1, 0; 0, 1}, L, 2, 1, 0, 5, 0)
%!error <^sphnet_learn: SPHNET_LEARN: 1st input argument \(Patterns\) must be a real double matrix\.$> [N, NL, Pr] = sphnet_learn (struct ('x', {0; 1; 0}), L, 2, 1, 0, 5, 0)
%!error <^sphnet_learn: SPHNET_LEARN: 1st input argument \(Patterns\) must be a real double matrix\.$> [N, NL, Pr] = sphnet_learn (complex (P, 1), L, 2, 1, 0, 5, 0)
%!error <^sphnet_learn: SPHNET_LEARN: 1st input argument \(Patterns\) must be a real double matrix\.$> [N, NL, Pr] = sphnet_learn (sparse (P), L, 2, 1, 0, 5, 0)
%!error <^sphnet_learn: SPHNET_LEARN: 1st input argument \(Patterns\) must not contain NaN or Inf\.$> [N, NL, Pr] = sphnet_learn ([0 0; NaN 0; 0 1], L, 2, 1, 0, 5, 0)
%!error <^sphnet_learn: SPHNET_LEARN: 1st input argument \(Patterns\) must not contain NaN or Inf\.$> [N, NL, Pr] = sphnet_learn ([0 0; 1 0; 0 Inf], L, 2, 1, 0, 5, 0)
%!error <^sphnet_learn: SPHNET_LEARN: 1st input argument \(Patterns\) must not contain NaN or Inf\.$> [N, NL, Pr] = sphnet_learn ([0 0; 1 0; -Inf 1], L, 2, 1, 0, 5, 0)

## 2nd argument: PLabels, one per pattern as a row or a column
%!error <^sphnet_learn: SPHNET_LEARN: 2nd input argument \(PLabels\) must a vector\.$> [N, NL, Pr] = sphnet_learn (P, ones (3, 1, 2), 2, 1, 0, 5, 0)
%!error <^sphnet_learn: SPHNET_LEARN: 2nd input argument \(PLabels\) must be of type  3x1 or 1x3\.$> [N, NL, Pr] = sphnet_learn (P, ones (3, 3), 2, 1, 0, 5, 0)
%!error <^sphnet_learn: SPHNET_LEARN: 2nd input argument \(PLabels\) must be of type  3x1 or 1x3\.$> [N, NL, Pr] = sphnet_learn (P, [1 2], 2, 1, 0, 5, 0)
%!error <^sphnet_learn: SPHNET_LEARN: 2nd input argument \(PLabels\) must be of type  3x1 or 1x3\.$> [N, NL, Pr] = sphnet_learn (P, [1; 2; 1; 2], 2, 1, 0, 5, 0)
%!error <^sphnet_learn: SPHNET_LEARN: 2nd input argument \(PLabels\) must be of type  3x1 or 1x3\.$> [N, NL, Pr] = sphnet_learn (P, [], 2, 1, 0, 5, 0)
%!error <^sphnet_learn: SPHNET_LEARN: 2nd input argument \(PLabels\) must be a real double vector\.$> [N, NL, Pr] = sphnet_learn (P, int32 (L), 2, 1, 0, 5, 0)
%!error <^sphnet_learn: SPHNET_LEARN: 2nd input argument \(PLabels\) must be a real double vector\.$> [N, NL, Pr] = sphnet_learn (P, single (L), 2, 1, 0, 5, 0)
%!error <^sphnet_learn: SPHNET_LEARN: 2nd input argument \(PLabels\) must be a real double vector\.$> [N, NL, Pr] = sphnet_learn (P, L == 1, 2, 1, 0, 5, 0)
%!error <^sphnet_learn: SPHNET_LEARN: 2nd input argument \(PLabels\) must be a real double vector\.$> [N, NL, Pr] = sphnet_learn (P, 'aba', 2, 1, 0, 5, 0)
%!error <^sphnet_learn: SPHNET_LEARN: 2nd input argument \(PLabels\) must be a real double vector\.$> [N, NL, Pr] = sphnet_learn (P, {1; 2; 1}, 2, 1, 0, 5, 0)
%!error <^sphnet_learn: SPHNET_LEARN: 2nd input argument \(PLabels\) must be a real double vector\.$> [N, NL, Pr] = sphnet_learn (P, complex (L, 1), 2, 1, 0, 5, 0)
%!error <^sphnet_learn: SPHNET_LEARN: 2nd input argument \(PLabels\) must be a real double vector\.$> [N, NL, Pr] = sphnet_learn (P, sparse (L), 2, 1, 0, 5, 0)
%!error <^sphnet_learn: SPHNET_LEARN: 2nd input argument \(PLabels\) must not contain NaN\.$> [N, NL, Pr] = sphnet_learn (P, [1; NaN; 1], 2, 1, 0, 5, 0)
%!error <^sphnet_learn: SPHNET_LEARN: 2nd input argument \(PLabels\) must lie within the 32-bit integer range\.$> [N, NL, Pr] = sphnet_learn (P, [1; 2^31; 1], 2, 1, 0, 5, 0)
%!error <^sphnet_learn: SPHNET_LEARN: 2nd input argument \(PLabels\) must lie within the 32-bit integer range\.$> [N, NL, Pr] = sphnet_learn (P, [1; -2^31 - 1; 1], 2, 1, 0, 5, 0)
%!error <^sphnet_learn: SPHNET_LEARN: 2nd input argument \(PLabels\) must lie within the 32-bit integer range\.$> [N, NL, Pr] = sphnet_learn (P, [1; Inf; 1], 2, 1, 0, 5, 0)
## A node keeps its pattern's label truncated: a fractional label would never match its node.
%!error <^sphnet_learn: SPHNET_LEARN: 2nd input argument \(PLabels\) must hold whole numbers\.$> [N, NL, Pr] = sphnet_learn ([0 0], 1.7, 2, 1, 0, 4, 1)
%!error <^sphnet_learn: SPHNET_LEARN: 2nd input argument \(PLabels\) must hold whole numbers\.$> [N, NL, Pr] = sphnet_learn (P, [1; 2^31 - 0.5; 1], 2, 1, 0, 5, 0)
%!error <^sphnet_learn: SPHNET_LEARN: 2nd input argument \(PLabels\) must hold whole numbers\.$> [N, NL, Pr] = sphnet_learn (P, [1; 2; -0.5], 2, 1, 0, 5, 0)

%!test # the label range is that of an int32
%! [N, NL, Pr] = sphnet_learn (P, [2^31 - 1; -2^31; 1], 2, 0, 0, 1, 0);
%! assert (NL, [2^31 - 1; -2^31; 1]);

%!test # a row and a column of labels train alike
%! [Nc, NLc, Prc] = sphnet_learn (P, L, 2, 1, 0, 5, 0);
%! [Nr, NLr, Prr] = sphnet_learn (P, L', 2, 1, 0, 5, 0);
%! assert (Nr, Nc);
%! assert (NLr, NLc);
%! assert (Prr, Prc);

## 3rd argument: norm_type
%!error <^sphnet_learn: SPHNET_LEARN: 3rd input argument \(norm_type\) must be a scalar\.$> [N, NL, Pr] = sphnet_learn (P, L, ones (2, 2), 1, 0, 5, 0)
%!error <^sphnet_learn: SPHNET_LEARN: 3rd input argument \(norm_type\) must be a scalar\.$> [N, NL, Pr] = sphnet_learn (P, L, ones (1, 1, 2), 1, 0, 5, 0)
%!error <^sphnet_learn: SPHNET_LEARN: 3rd input argument \(norm_type\) must be a scalar\.$> [N, NL, Pr] = sphnet_learn (P, L, zeros (1, 0), 1, 0, 5, 0)
%!error <^sphnet_learn: SPHNET_LEARN: 3rd input argument \(norm_type\) must be a scalar\.$> [N, NL, Pr] = sphnet_learn (P, L, [], 1, 0, 5, 0)
%!error <^sphnet_learn: SPHNET_LEARN: 3rd input argument \(norm_type\) must be a real double scalar\.$> [N, NL, Pr] = sphnet_learn (P, L, single (2), 1, 0, 5, 0)
%!error <^sphnet_learn: SPHNET_LEARN: 3rd input argument \(norm_type\) must be a real double scalar\.$> [N, NL, Pr] = sphnet_learn (P, L, int32 (2), 1, 0, 5, 0)
%!error <^sphnet_learn: SPHNET_LEARN: 3rd input argument \(norm_type\) must be a real double scalar\.$> [N, NL, Pr] = sphnet_learn (P, L, true, 1, 0, 5, 0)
%!error <^sphnet_learn: SPHNET_LEARN: 3rd input argument \(norm_type\) must be a real double scalar\.$> [N, NL, Pr] = sphnet_learn (P, L, '2', 1, 0, 5, 0)
%!error <^sphnet_learn: SPHNET_LEARN: 3rd input argument \(norm_type\) must be a real double scalar\.$> [N, NL, Pr] = sphnet_learn (P, L, {2}, 1, 0, 5, 0)
%!error <^sphnet_learn: SPHNET_LEARN: 3rd input argument \(norm_type\) must be a real double scalar\.$> [N, NL, Pr] = sphnet_learn (P, L, struct ('p', 2), 1, 0, 5, 0)
%!error <^sphnet_learn: SPHNET_LEARN: 3rd input argument \(norm_type\) must be a real double scalar\.$> [N, NL, Pr] = sphnet_learn (P, L, complex (2, 0), 1, 0, 5, 0)
%!error <^sphnet_learn: SPHNET_LEARN: 3rd input argument \(norm_type\) must be a real double scalar\.$> [N, NL, Pr] = sphnet_learn (P, L, sparse (2), 1, 0, 5, 0)
%!error <^sphnet_learn: SPHNET_LEARN: 3rd input argument \(norm_type\) must be \x3E= 1\.$> [N, NL, Pr] = sphnet_learn (P, L, 0.5, 1, 0, 5, 0)
%!error <^sphnet_learn: SPHNET_LEARN: 3rd input argument \(norm_type\) must be \x3E= 1\.$> [N, NL, Pr] = sphnet_learn (P, L, NaN, 1, 0, 5, 0)
%!error <^sphnet_learn: SPHNET_LEARN: 3rd input argument \(norm_type\) must be \x3E= 1\.$> [N, NL, Pr] = sphnet_learn (P, L, -Inf, 1, 0, 5, 0)
## A longer vector passes the shape check and its first element is used.
%!error <^sphnet_learn: SPHNET_LEARN: 3rd input argument \(norm_type\) must be \x3E= 1\.$> [N, NL, Pr] = sphnet_learn (P, L, [0.5 2], 1, 0, 5, 0)

%!test # norm_type Inf (maximum distance) and a vector whose first element is valid
%! [N, NL, Pr] = sphnet_learn (P, L, Inf, 1, 0, 5, 0);
%! assert (rows (N), 3);
%! [N2, NL2, Pr2] = sphnet_learn (P, L, [2 0.5], 1, 0, 5, 0);
%! [N3, NL3, Pr3] = sphnet_learn (P, L, 2, 1, 0, 5, 0);
%! assert (N2, N3);

## 4th argument: Rmax
%!error <^sphnet_learn: SPHNET_LEARN: 4th input argument \(Rmax\) must be a scalar\.$> [N, NL, Pr] = sphnet_learn (P, L, 2, ones (2, 2), 0, 5, 0)
%!error <^sphnet_learn: SPHNET_LEARN: 4th input argument \(Rmax\) must be a scalar\.$> [N, NL, Pr] = sphnet_learn (P, L, 2, zeros (0, 1), 0, 5, 0)
%!error <^sphnet_learn: SPHNET_LEARN: 4th input argument \(Rmax\) must be a real double scalar\.$> [N, NL, Pr] = sphnet_learn (P, L, 2, single (1), 0, 5, 0)
%!error <^sphnet_learn: SPHNET_LEARN: 4th input argument \(Rmax\) must be a real double scalar\.$> [N, NL, Pr] = sphnet_learn (P, L, 2, complex (1, 1), 0, 5, 0)
%!error <^sphnet_learn: SPHNET_LEARN: 4th input argument \(Rmax\) must be non-negative\.$> [N, NL, Pr] = sphnet_learn (P, L, 2, -0.1, 0, 5, 0)
%!error <^sphnet_learn: SPHNET_LEARN: 4th input argument \(Rmax\) must be non-negative\.$> [N, NL, Pr] = sphnet_learn (P, L, 2, NaN, 0, 5, 0)

## 5th argument: margin
%!error <^sphnet_learn: SPHNET_LEARN: 5th input argument \(margin\) must be a scalar\.$> [N, NL, Pr] = sphnet_learn (P, L, 2, 1, ones (2, 3), 5, 0)
%!error <^sphnet_learn: SPHNET_LEARN: 5th input argument \(margin\) must be a scalar\.$> [N, NL, Pr] = sphnet_learn (P, L, 2, 1, zeros (1, 0), 5, 0)
%!error <^sphnet_learn: SPHNET_LEARN: 5th input argument \(margin\) must be a real double scalar\.$> [N, NL, Pr] = sphnet_learn (P, L, 2, 1, int32 (0), 5, 0)
%!error <^sphnet_learn: SPHNET_LEARN: 5th input argument \(margin\) must be non-negative\.$> [N, NL, Pr] = sphnet_learn (P, L, 2, 1, -1e-300, 5, 0)
%!error <^sphnet_learn: SPHNET_LEARN: 5th input argument \(margin\) must be non-negative\.$> [N, NL, Pr] = sphnet_learn (P, L, 2, 1, NaN, 5, 0)
%!error <^sphnet_learn: SPHNET_LEARN: 5th input argument \(margin\) must be finite\.$> [N, NL, Pr] = sphnet_learn (P, L, 2, 1, Inf, 5, 0)

## 6th argument: max_list_presentations, truncated toward zero
%!error <^sphnet_learn: SPHNET_LEARN: 6th input argument \(max_list_presentations\) must be scalar\.$> [N, NL, Pr] = sphnet_learn (P, L, 2, 1, 0, ones (2, 2), 0)
%!error <^sphnet_learn: SPHNET_LEARN: 6th input argument \(max_list_presentations\) must be scalar\.$> [N, NL, Pr] = sphnet_learn (P, L, 2, 1, 0, zeros (1, 0), 0)
%!error <^sphnet_learn: SPHNET_LEARN: 6th input argument \(max_list_presentations\) must be scalar\.$> [N, NL, Pr] = sphnet_learn (P, L, 2, 1, 0, ones (1, 1, 3), 0)
%!error <^sphnet_learn: SPHNET_LEARN: 6th input argument \(max_list_presentations\) must be a real double scalar\.$> [N, NL, Pr] = sphnet_learn (P, L, 2, 1, 0, int32 (5), 0)
%!error <^sphnet_learn: SPHNET_LEARN: 6th input argument \(max_list_presentations\) must be a real double scalar\.$> [N, NL, Pr] = sphnet_learn (P, L, 2, 1, 0, '5', 0)
%!error <^sphnet_learn: SPHNET_LEARN: 6th input argument \(max_list_presentations\) must be \x3E= 1$> [N, NL, Pr] = sphnet_learn (P, L, 2, 1, 0, 0.9, 0)
%!error <^sphnet_learn: SPHNET_LEARN: 6th input argument \(max_list_presentations\) must be \x3E= 1$> [N, NL, Pr] = sphnet_learn (P, L, 2, 1, 0, -3, 0)
%!error <^sphnet_learn: SPHNET_LEARN: 6th input argument \(max_list_presentations\) must be \x3E= 1$> [N, NL, Pr] = sphnet_learn (P, L, 2, 1, 0, NaN, 0)

%!test # 1.9 passes are truncated to one pass: training stops after it
%! [N, NL, Pr] = sphnet_learn ([0 0; 0.5 0], [1; 2], 2, 1, 0, 1.9, 0);
%! assert (Pr, 1);
%! assert (NL, [1; 2]);

## 7th argument: oflag, truncated toward zero
%!error <^sphnet_learn: SPHNET_LEARN: 7th input argument \(oflag\) must be scalar\.$> [N, NL, Pr] = sphnet_learn (P, L, 2, 1, 0, 5, ones (2, 2, 2))
%!error <^sphnet_learn: SPHNET_LEARN: 7th input argument must be scalar\.$> [N, NL, Pr] = sphnet_learn (P, L, 2, 1, 0, 5, ones (2, 2))
%!error <^sphnet_learn: SPHNET_LEARN: 7th input argument must be scalar\.$> [N, NL, Pr] = sphnet_learn (P, L, 2, 1, 0, 5, [])
%!error <^sphnet_learn: SPHNET_LEARN: 7th input argument \(oflag\) must be scalar\.$> [N, NL, Pr] = sphnet_learn (P, L, 2, 1, 0, 5, zeros (1, 0))
%!error <^sphnet_learn: SPHNET_LEARN: 7th input argument \(oflag\) must be a real double scalar\.$> [N, NL, Pr] = sphnet_learn (P, L, 2, 1, 0, 5, true)
%!error <^sphnet_learn: SPHNET_LEARN: 7th input argument \(oflag\) must be a real double scalar\.$> [N, NL, Pr] = sphnet_learn (P, L, 2, 1, 0, 5, struct ())
%!error <^sphnet_learn: SPHNET_LEARN: 7th input argument \(oflag\) must be 0,1,2 or 3$> [N, NL, Pr] = sphnet_learn (P, L, 2, 1, 0, 5, 4)
%!error <^sphnet_learn: SPHNET_LEARN: 7th input argument \(oflag\) must be 0,1,2 or 3$> [N, NL, Pr] = sphnet_learn (P, L, 2, 1, 0, 5, -1)
%!error <^sphnet_learn: SPHNET_LEARN: 7th input argument \(oflag\) must be 0,1,2 or 3$> [N, NL, Pr] = sphnet_learn (P, L, 2, 1, 0, 5, NaN)
%!error <^sphnet_learn: SPHNET_LEARN: 7th input argument \(oflag\) must be 0,1,2 or 3$> [N, NL, Pr] = sphnet_learn (P, L, 2, 1, 0, 5, 2^40)

%!test # oflag 3.9 truncates to 3 (full trace); -0.5 truncates to 0 (silent); [0 5] uses 0
%! out = evalc ('[N, NL, Pr] = sphnet_learn (P, L, 2, 1, 0, 5, 3.9);');
%! assert (! isempty (strfind (out, '      Pattern #1 is being presented')));
%! assert (evalc ('[N, NL, Pr] = sphnet_learn (P, L, 2, 1, 0, 5, -0.5);'), '');
%! assert (evalc ('[N, NL, Pr] = sphnet_learn (P, L, 2, 1, 0, 5, [0 5]);'), '');

## Output count: checked after every argument
%!error <^sphnet_learn: SPHNET_LEARN: 3 output arguments required\.$> [N, NL] = sphnet_learn (P, L, 2, 1, 0, 5, 0)
%!error <^sphnet_learn: SPHNET_LEARN: 3 output arguments required\.$> N = sphnet_learn (P, L, 2, 1, 0, 5, 0)
%!error <^sphnet_learn: SPHNET_LEARN: 3 output arguments required\.$> sphnet_learn (P, L, 2, 1, 0, 5, 0)
%!error <^sphnet_learn: SPHNET_LEARN: 3 output arguments required\.$> [N, NL, Pr, X] = sphnet_learn (P, L, 2, 1, 0, 5, 0)
%!error <^sphnet_learn: SPHNET_LEARN: 7th input argument \(oflag\) must be 0,1,2 or 3$> [N, NL] = sphnet_learn (P, L, 2, 1, 0, 5, 4)

## Order: the first bad argument is the one reported
%!error <^sphnet_learn: SPHNET_LEARN: 1st input argument \(Patterns\) must be a real double matrix\.$> [N, NL, Pr] = sphnet_learn (single (P), [1 2], -1, -1, -1, 0, 9)
%!error <^sphnet_learn: SPHNET_LEARN: 2nd input argument \(PLabels\) must be of type  3x1 or 1x3\.$> [N, NL, Pr] = sphnet_learn (P, [1 2], -1, -1, -1, 0, 9)
%!error <^sphnet_learn: SPHNET_LEARN: 3rd input argument \(norm_type\) must be \x3E= 1\.$> [N, NL, Pr] = sphnet_learn (P, L, -1, -1, -1, 0, 9)
%!error <^sphnet_learn: SPHNET_LEARN: 4th input argument \(Rmax\) must be non-negative\.$> [N, NL, Pr] = sphnet_learn (P, L, 1, -1, -1, 0, 9)
%!error <^sphnet_learn: SPHNET_LEARN: 5th input argument \(margin\) must be non-negative\.$> [N, NL, Pr] = sphnet_learn (P, L, 1, 1, -1, 0, 9)
%!error <^sphnet_learn: SPHNET_LEARN: 6th input argument \(max_list_presentations\) must be \x3E= 1$> [N, NL, Pr] = sphnet_learn (P, L, 1, 1, 1, 0, 9)

%!test # each error carries the identifier of the argument it is about (see help sphnet_learn)
%! cases = {'inputCount',              {P, L, 2, 1, 0, 5}
%!          'badPatterns',             {single(P), L, 2, 1, 0, 5, 0}
%!          'badLabels',               {P, [1; 1.5; 1], 2, 1, 0, 5, 0}
%!          'badNormType',             {P, L, 0.5, 1, 0, 5, 0}
%!          'badRmax',                 {P, L, 2, -1, 0, 5, 0}
%!          'badMargin',               {P, L, 2, 1, Inf, 5, 0}
%!          'badMaxListPresentations', {P, L, 2, 1, 0, 0, 0}
%!          'badOflag',                {P, L, 2, 1, 0, 5, []}};
%! for k = 1:rows (cases)
%!   try
%!     [N, NL, Pr] = sphnet_learn (cases{k, 2}{:});
%!     error ('the call with a bad %s must fail', cases{k, 1});
%!   catch err
%!     assert (err.identifier, ['sphnet:learn:' cases{k, 1}]);
%!   end_try_catch
%! end
%! try
%!   [N, NL] = sphnet_learn (P, L, 2, 1, 0, 5, 0);
%!   error ('two outputs must fail');
%! catch err
%!   assert (err.identifier, 'sphnet:learn:outputCount');
%! end_try_catch

%!test # after all the failed calls above, the module still trains, and the inputs are untouched
%! P0 = P;
%! L0 = L;
%! for k = 1:3
%!   try
%!     [N, NL, Pr] = sphnet_learn (P, L, 2, 1, 0, 5, 4);
%!     error ('the call above must fail');
%!   catch err
%!     assert (err.message, 'sphnet_learn: SPHNET_LEARN: 7th input argument (oflag) must be 0,1,2 or 3');
%!     assert (err.identifier, 'sphnet:learn:badOflag');
%!   end_try_catch
%! end
%! [N, NL, Pr] = sphnet_learn (P, L, 2, 10, 0, 5, 0);
%! assert (size (N), [3 3]);
%! assert (NL, L);
%! assert (Pr, 1);
%! assert (P, P0);
%! assert (L, L0);
