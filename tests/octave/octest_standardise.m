% OCTEST_STANDARDISE  z-scores with the statistics of the training part only.
%   [Ztrain, Ztest] = OCTEST_STANDARDISE(Xtrain, Xtest). A constant feature (blank pixels in the
%   digits) keeps a unit scale instead of dividing by zero.
function [Ztrain, Ztest] = octest_standardise(Xtrain, Xtest)
  mu = mean(Xtrain, 1);
  sigma = std(Xtrain, 0, 1);
  sigma(sigma == 0) = 1;
  Ztrain = (Xtrain - mu) ./ sigma;
  Ztest = (Xtest - mu) ./ sigma;
end
