% SPHNET_ENGINE  Internal: the compiled core behind SPHNET_FIT and SPHNET_PREDICT.
%   Not meant to be called directly; use SPHNET_FIT and SPHNET_PREDICT. Its interface may
%   change without notice.
%
%   [nodes, nodeClass, presentations, converged] = SPHNET_ENGINE('train', X, classIndex, p, ...
%       Rmax, margin, maxPasses, verbose, startNodes, startClass)
%     trains on the rows of X (real double, finite) with class numbers classIndex, starting
%     from the node rows startNodes ([centre radius], finite; [] for none) and their class
%     numbers startClass, which stay first in the node list. verbose 1 prints a line per pass.
%   [class, node, distance, coverCount, disagree] = SPHNET_ENGINE('recall', nodes, nodeClass, ...
%       p, X, nnOption)
%     classifies the rows of X: class is the deciding node's class number (0: none), node its
%     1-based number (0: none), distance the distance to it (NaN: none), coverCount the number
%     of nodes that cover the row, disagree 1 where those nodes' classes differ.
%   [mu, sigma, rmax, typical, spread] = SPHNET_ENGINE('statistics', X, p)
%     the column means mu and standard deviations sigma of X (1 x n, N - 1 normalisation,
%     sums taken row by row; a sigma of 0 or not finite is 1), and with more than two outputs
%     the automatic Rmax of SPHNET_FIT measured on X as given: typical, the median distance of
%     order p between the rows round(linspace(1, N, min(N, 500))) (NaN for N < 2); rmax, half
%     of it, or 1 when that is not a positive finite number; spread, the widest range of a
%     column among those rows. Both hosts take their models' statistics from here.
%
%   Errors carry the identifier sphnet:engine:badArgument.
%
%   See also SPHNET_FIT, SPHNET_PREDICT.
