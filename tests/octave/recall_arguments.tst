## sphnet_recall argument checking, as seen from Octave. T holds two nodes in 2-D (centre, then
## radius), NL their labels and X three patterns; each case spoils one argument.

%!shared T, NL, X
%! T = [0 0 1; 5 0 1];
%! NL = [1; 2];
%! X = [0 0.5; 5 0.5; 9 9];

## Input count
%!error <^sphnet_recall: SPHNET_RECALL: 7 input arguments required\.$> r = sphnet_recall (T, NL, 2, X, -1, 1)
%!error <^sphnet_recall: SPHNET_RECALL: 7 input arguments required\.$> r = sphnet_recall (T, NL, 2, X, -1, 1, 0, 0)

## 1st argument: Templates
%!error <^sphnet_recall: SPHNET_RECALL: 1st input argument \(Templates\) must be  a two dimensional array \(matrix\)\.$> r = sphnet_recall (zeros (2, 3, 2), NL, 2, X, -1, 1, 0)
%!error <^sphnet_recall: SPHNET_RECALL: 1st input argument \(Templates\) must be a real double matrix\.$> r = sphnet_recall (single (T), NL, 2, X, -1, 1, 0)
%!error <^sphnet_recall: SPHNET_RECALL: 1st input argument \(Templates\) must be a real double matrix\.$> r = sphnet_recall (int32 (T), NL, 2, X, -1, 1, 0)
%!error <^sphnet_recall: SPHNET_RECALL: 1st input argument \(Templates\) must be a real double matrix\.$> r = sphnet_recall (T != 0, NL, 2, X, -1, 1, 0)
%!error <^sphnet_recall: SPHNET_RECALL: 1st input argument \(Templates\) must be a real double matrix\.$> r = sphnet_recall (['abc'; 'def'], NL, 2, X, -1, 1, 0)
%!error <^sphnet_recall: SPHNET_RECALL: 1st input argument \(Templates\) must be a real double matrix\.$> r = sphnet_recall (num2cell (T), NL, 2, X, -1, 1, 0)
%!error <^sphnet_recall: SPHNET_RECALL: 1st input argument \(Templates\) must be a real double matrix\.$> r = sphnet_recall (struct ('T', T), NL, 2, X, -1, 1, 0)
%!error <^sphnet_recall: SPHNET_RECALL: 1st input argument \(Templates\) must be a real double matrix\.$> r = sphnet_recall (complex (T, 0), NL, 2, X, -1, 1, 0)
%!error <^sphnet_recall: SPHNET_RECALL: 1st input argument \(Templates\) must be a real double matrix\.$> r = sphnet_recall (sparse (T), NL, 2, X, -1, 1, 0)
%!error <^sphnet_recall: SPHNET_RECALL: 1st input argument \(Templates\) must have a column for the radius\.$> r = sphnet_recall (zeros (2, 0), NL, 2, X, -1, 1, 0)
%!error <^sphnet_recall: SPHNET_RECALL: 1st input argument \(Templates\) must not contain NaN\.$> r = sphnet_recall ([0 0 1; 5 0 NaN], NL, 2, X, -1, 1, 0)
%!error <^sphnet_recall: SPHNET_RECALL: 1st input argument \(Templates\) must not contain NaN\.$> r = sphnet_recall ([0 NaN 1; 5 0 1], NL, 2, X, -1, 1, 0)
%!error <^sphnet_recall: SPHNET_RECALL: 1st input argument \(Templates\) must have finite centres\.$> r = sphnet_recall ([0 0 1; Inf 0 1], NL, 2, X, -1, 1, 0)
%!error <^sphnet_recall: SPHNET_RECALL: 1st input argument \(Templates\) must have finite centres\.$> r = sphnet_recall ([0 -Inf 1; 5 0 1], NL, 2, X, -1, 1, 0)

%!test # an infinite radius (training with Rmax Inf makes them) covers every pattern
%! r = sphnet_recall ([0 0 Inf; 5 0 1], NL, 2, X, -1, 0, 0);
%! assert (r, [1; 1; 1]);

## 2nd argument: NLabels, one per node as a row or a column
%!error <^sphnet_recall: SPHNET_RECALL: 2nd input argument \(NLabels\) must a vector\.$> r = sphnet_recall (T, ones (2, 1, 2), 2, X, -1, 1, 0)
%!error <^sphnet_recall: SPHNET_RECALL: 2nd input argument \(NLabels\) must be of type  2x1 or 1x2\.$> r = sphnet_recall (T, ones (2, 2), 2, X, -1, 1, 0)
%!error <^sphnet_recall: SPHNET_RECALL: 2nd input argument \(NLabels\) must be of type  2x1 or 1x2\.$> r = sphnet_recall (T, [1 2 3], 2, X, -1, 1, 0)
%!error <^sphnet_recall: SPHNET_RECALL: 2nd input argument \(NLabels\) must be of type  2x1 or 1x2\.$> r = sphnet_recall (T, 1, 2, X, -1, 1, 0)
%!error <^sphnet_recall: SPHNET_RECALL: 2nd input argument \(NLabels\) must be of type  3x1 or 1x3\.$> r = sphnet_recall ([T; 1 1 1], NL, 2, X, -1, 1, 0)
%!error <^sphnet_recall: SPHNET_RECALL: 2nd input argument \(NLabels\) must be a real double vector\.$> r = sphnet_recall (T, int8 (NL), 2, X, -1, 1, 0)
%!error <^sphnet_recall: SPHNET_RECALL: 2nd input argument \(NLabels\) must be a real double vector\.$> r = sphnet_recall (T, single (NL), 2, X, -1, 1, 0)
%!error <^sphnet_recall: SPHNET_RECALL: 2nd input argument \(NLabels\) must be a real double vector\.$> r = sphnet_recall (T, NL > 0, 2, X, -1, 1, 0)
%!error <^sphnet_recall: SPHNET_RECALL: 2nd input argument \(NLabels\) must be a real double vector\.$> r = sphnet_recall (T, 'ab', 2, X, -1, 1, 0)
%!error <^sphnet_recall: SPHNET_RECALL: 2nd input argument \(NLabels\) must be a real double vector\.$> r = sphnet_recall (T, {1; 2}, 2, X, -1, 1, 0)
%!error <^sphnet_recall: SPHNET_RECALL: 2nd input argument \(NLabels\) must be a real double vector\.$> r = sphnet_recall (T, complex (NL, 2), 2, X, -1, 1, 0)
%!error <^sphnet_recall: SPHNET_RECALL: 2nd input argument \(NLabels\) must be a real double vector\.$> r = sphnet_recall (T, sparse (NL), 2, X, -1, 1, 0)
%!error <^sphnet_recall: SPHNET_RECALL: 2nd input argument \(NLabels\) must not contain NaN\.$> r = sphnet_recall (T, [1; NaN], 2, X, -1, 1, 0)
%!error <^sphnet_recall: SPHNET_RECALL: 2nd input argument \(NLabels\) must lie within the 32-bit integer range\.$> r = sphnet_recall (T, [1; 2^31], 2, X, -1, 1, 0)
%!error <^sphnet_recall: SPHNET_RECALL: 2nd input argument \(NLabels\) must lie within the 32-bit integer range\.$> r = sphnet_recall (T, [-Inf; 2], 2, X, -1, 1, 0)

%!test # a row of node labels reads like a column; labels are truncated toward zero
%! assert (sphnet_recall (T, NL', 2, X, -1, 1, 0), [1; 2; 2]);
%! assert (sphnet_recall (T, [1.9; -2.9], 2, X, -1, 1, 0), [1; -2; -2]);

## 3rd argument: norm_type
%!error <^sphnet_recall: SPHNET_RECALL: 3rd input argument \(norm_type\) must be a scalar\.$> r = sphnet_recall (T, NL, ones (2, 2), X, -1, 1, 0)
%!error <^sphnet_recall: SPHNET_RECALL: 3rd input argument \(norm_type\) must be a scalar\.$> r = sphnet_recall (T, NL, zeros (0, 1), X, -1, 1, 0)
%!error <^sphnet_recall: SPHNET_RECALL: 3rd input argument \(norm_type\) must be a scalar\.$> r = sphnet_recall (T, NL, ones (1, 1, 2), X, -1, 1, 0)
%!error <^sphnet_recall: SPHNET_RECALL: 3rd input argument \(norm_type\) must be a real double scalar\.$> r = sphnet_recall (T, NL, uint8 (2), X, -1, 1, 0)
%!error <^sphnet_recall: SPHNET_RECALL: 3rd input argument \(norm_type\) must be a real double scalar\.$> r = sphnet_recall (T, NL, complex (2, 1), X, -1, 1, 0)
%!error <^sphnet_recall: SPHNET_RECALL: 3rd input argument \(norm_type\) must be \x3E= 1\.$> r = sphnet_recall (T, NL, 0.999, X, -1, 1, 0)
%!error <^sphnet_recall: SPHNET_RECALL: 3rd input argument \(norm_type\) must be \x3E= 1\.$> r = sphnet_recall (T, NL, NaN, X, -1, 1, 0)

## 4th argument: Patterns, with as many columns as the nodes have centre coordinates
%!error <^sphnet_recall: SPHNET_RECALL: 4th input argument \(Patterns\) must be  a two dimensional array \(matrix\)\.$> r = sphnet_recall (T, NL, 2, zeros (3, 2, 2), -1, 1, 0)
%!error <^sphnet_recall: SPHNET_RECALL: 4th input argument \(Patterns\) must be of type  4x4\.$> r = sphnet_recall (zeros (3, 5), [1; 2; 3], 2, zeros (4, 3), -1, 1, 0)
%!error <^sphnet_recall: SPHNET_RECALL: 4th input argument \(Patterns\) must be of type  3x2\.$> r = sphnet_recall (T, NL, 2, [X X], -1, 1, 0)
%!error <^sphnet_recall: SPHNET_RECALL: 4th input argument \(Patterns\) must be of type  1x2\.$> r = sphnet_recall (T, NL, 2, 1, -1, 1, 0)
%!error <^sphnet_recall: SPHNET_RECALL: 4th input argument \(Patterns\) must be a real double matrix\.$> r = sphnet_recall (T, NL, 2, single (X), -1, 1, 0)
%!error <^sphnet_recall: SPHNET_RECALL: 4th input argument \(Patterns\) must be a real double matrix\.$> r = sphnet_recall (T, NL, 2, int32 (X), -1, 1, 0)
%!error <^sphnet_recall: SPHNET_RECALL: 4th input argument \(Patterns\) must be a real double matrix\.$> r = sphnet_recall (T, NL, 2, X > 0, -1, 1, 0)
%!error <^sphnet_recall: SPHNET_RECALL: 4th input argument \(Patterns\) must be a real double matrix\.$> r = sphnet_recall (T, NL, 2, complex (X, 1), -1, 1, 0)
%!error <^sphnet_recall: SPHNET_RECALL: 4th input argument \(Patterns\) must be a real double matrix\.$> r = sphnet_recall (T, NL, 2, sparse (X), -1, 1, 0)
%!error <^sphnet_recall: SPHNET_RECALL: 4th input argument \(Patterns\) must be a real double matrix\.$> r = sphnet_recall (T, NL, 2, {0, 0}, -1, 1, 0)
%!error <^sphnet_recall: SPHNET_RECALL: 4th input argument \(Patterns\) must not contain NaN or Inf\.$> r = sphnet_recall (T, NL, 2, [X; NaN 0], -1, 1, 0)
%!error <^sphnet_recall: SPHNET_RECALL: 4th input argument \(Patterns\) must not contain NaN or Inf\.$> r = sphnet_recall (T, NL, 2, [X; 0 -Inf], -1, 1, 0)

## 5th argument: unknown_label, truncated toward zero
%!error <^sphnet_recall: SPHNET_RECALL: 5th input argument \(unknown_label\) must be a scalar\.$> r = sphnet_recall (T, NL, 2, X, ones (2, 2), 1, 0)
%!error <^sphnet_recall: SPHNET_RECALL: 5th input argument \(unknown_label\) must be a scalar\.$> r = sphnet_recall (T, NL, 2, X, [], 1, 0)
%!error <^sphnet_recall: SPHNET_RECALL: 5th input argument \(unknown_label\) must be a real double scalar\.$> r = sphnet_recall (T, NL, 2, X, int32 (-1), 1, 0)
%!error <^sphnet_recall: SPHNET_RECALL: 5th input argument \(unknown_label\) must lie within the 32-bit integer range\.$> r = sphnet_recall (T, NL, 2, X, 2^31, 1, 0)
%!error <^sphnet_recall: SPHNET_RECALL: 5th input argument \(unknown_label\) must lie within the 32-bit integer range\.$> r = sphnet_recall (T, NL, 2, X, -Inf, 1, 0)
%!error <^sphnet_recall: SPHNET_RECALL: 5th input argument \(unknown_label\) must lie within the 32-bit integer range\.$> r = sphnet_recall (T, NL, 2, X, NaN, 1, 0)

%!test # unknown_label -1.9 is used as -1
%! assert (sphnet_recall (T, NL, 2, X, -1.9, 0, 0), [1; 2; -1]);

## 6th argument: nn_option, truncated toward zero to 0 or 1
%!error <^sphnet_recall: SPHNET_RECALL: 6th input argument \(nn_option\) must be a scalar\.$> r = sphnet_recall (T, NL, 2, X, -1, [1 1; 1 1], 0)
%!error <^sphnet_recall: SPHNET_RECALL: 6th input argument \(nn_option\) must be a scalar\.$> r = sphnet_recall (T, NL, 2, X, -1, zeros (1, 0), 0)
%!error <^sphnet_recall: SPHNET_RECALL: 6th input argument \(nn_option\) must be a real double scalar\.$> r = sphnet_recall (T, NL, 2, X, -1, true, 0)
%!error <^sphnet_recall: SPHNET_RECALL: 6th input argument \(nn_option\) must be either 0 or 1\.$> r = sphnet_recall (T, NL, 2, X, -1, 2, 0)
%!error <^sphnet_recall: SPHNET_RECALL: 6th input argument \(nn_option\) must be either 0 or 1\.$> r = sphnet_recall (T, NL, 2, X, -1, -1, 0)
%!error <^sphnet_recall: SPHNET_RECALL: 6th input argument \(nn_option\) must be either 0 or 1\.$> r = sphnet_recall (T, NL, 2, X, -1, NaN, 0)

%!test # nn_option 1.5 truncates to 1, -0.5 to 0
%! assert (sphnet_recall (T, NL, 2, X, -1, 1.5, 0), [1; 2; 2]);
%! assert (sphnet_recall (T, NL, 2, X, -1, -0.5, 0), [1; 2; -1]);

## 7th argument: oflag, truncated toward zero
%!error <^sphnet_recall: SPHNET_RECALL: 7th input argument \(oflag\) must be scalar\.$> r = sphnet_recall (T, NL, 2, X, -1, 1, ones (2, 2))
%!error <^sphnet_recall: SPHNET_RECALL: 7th input argument \(oflag\) must be scalar\.$> r = sphnet_recall (T, NL, 2, X, -1, 1, zeros (0, 1))
%!error <^sphnet_recall: SPHNET_RECALL: 7th input argument \(oflag\) must be a real double scalar\.$> r = sphnet_recall (T, NL, 2, X, -1, 1, '1')
%!error <^sphnet_recall: SPHNET_RECALL: 7th input argument \(oflag\) must be 0,1,2 or 3\.$> r = sphnet_recall (T, NL, 2, X, -1, 1, 4)
%!error <^sphnet_recall: SPHNET_RECALL: 7th input argument \(oflag\) must be 0,1,2 or 3\.$> r = sphnet_recall (T, NL, 2, X, -1, 1, -1)
%!error <^sphnet_recall: SPHNET_RECALL: 7th input argument \(oflag\) must be 0,1,2 or 3\.$> r = sphnet_recall (T, NL, 2, X, -1, 1, NaN)

%!test # oflag 3.9 is 3, -0.5 is 0, and [0 3] uses its first element
%! out = evalc ('r = sphnet_recall (T, NL, 2, X, -1, 1, 3.9);');
%! assert (! isempty (strfind (out, '      Pattern #3 is being presented')));
%! assert (evalc ('r = sphnet_recall (T, NL, 2, X, -1, 1, -0.5);'), '');
%! assert (evalc ('r = sphnet_recall (T, NL, 2, X, -1, 1, [0 3]);'), '');

## Output count, checked after every argument; a call without an output asks for none
%!error <^sphnet_recall: SPHNET_RECALL: 1 output argument required\.$> [r, s] = sphnet_recall (T, NL, 2, X, -1, 1, 0)
%!error <^sphnet_recall: SPHNET_RECALL: 1 output argument required\.$> sphnet_recall (T, NL, 2, X, -1, 1, 0)
%!error <^sphnet_recall: SPHNET_RECALL: 6th input argument \(nn_option\) must be either 0 or 1\.$> [r, s] = sphnet_recall (T, NL, 2, X, -1, 3, 0)

## Order: the first bad argument is the one reported
%!error <^sphnet_recall: SPHNET_RECALL: 2nd input argument \(NLabels\) must be of type  2x1 or 1x2\.$> r = sphnet_recall (T, 1, 0, zeros (1, 5), NaN, 5, 9)
%!error <^sphnet_recall: SPHNET_RECALL: 3rd input argument \(norm_type\) must be \x3E= 1\.$> r = sphnet_recall (T, NL, 0, zeros (1, 5), NaN, 5, 9)
%!error <^sphnet_recall: SPHNET_RECALL: 4th input argument \(Patterns\) must be of type  1x2\.$> r = sphnet_recall (T, NL, 2, zeros (1, 5), NaN, 5, 9)
%!error <^sphnet_recall: SPHNET_RECALL: 5th input argument \(unknown_label\) must lie within the 32-bit integer range\.$> r = sphnet_recall (T, NL, 2, X, NaN, 5, 9)
%!error <^sphnet_recall: SPHNET_RECALL: 6th input argument \(nn_option\) must be either 0 or 1\.$> r = sphnet_recall (T, NL, 2, X, 0, 5, 9)

%!test # each error carries the identifier of the argument it is about (see help sphnet_recall)
%! cases = {'inputCount',      {T, NL, 2, X, -1, 1}
%!          'badTemplates',    {single(T), NL, 2, X, -1, 1, 0}
%!          'badNodeLabels',   {T, [1; NaN], 2, X, -1, 1, 0}
%!          'badNormType',     {T, NL, 0, X, -1, 1, 0}
%!          'badPatterns',     {T, NL, 2, zeros(1, 5), -1, 1, 0}
%!          'badUnknownLabel', {T, NL, 2, X, 2^31, 1, 0}
%!          'badNnOption',     {T, NL, 2, X, -1, 2, 0}
%!          'badOflag',        {T, NL, 2, X, -1, 1, 4}};
%! for k = 1:rows (cases)
%!   try
%!     r = sphnet_recall (cases{k, 2}{:});
%!     error ('the call with a bad %s must fail', cases{k, 1});
%!   catch err
%!     assert (err.identifier, ['sphnet:recall:' cases{k, 1}]);
%!   end_try_catch
%! end
%! try
%!   [r, s] = sphnet_recall (T, NL, 2, X, -1, 1, 0);
%!   error ('two outputs must fail');
%! catch err
%!   assert (err.identifier, 'sphnet:recall:outputCount');
%! end_try_catch

%!test # after the failed calls the module still classifies, and its inputs are untouched
%! T0 = T;
%! X0 = X;
%! try
%!   r = sphnet_recall (T, NL, 2, X, -1, 1, 9);
%!   error ('the call above must fail');
%! catch err
%!   assert (err.message, 'sphnet_recall: SPHNET_RECALL: 7th input argument (oflag) must be 0,1,2 or 3.');
%!   assert (err.identifier, 'sphnet:recall:badOflag');
%! end_try_catch
%! assert (sphnet_recall (T, NL, 2, X, -1, 1, 0), [1; 2; 2]);
%! assert (T, T0);
%! assert (X, X0);
