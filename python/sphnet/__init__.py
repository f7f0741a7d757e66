"""sphnet: RCE hypersphere-network classifier over the same C++ core as the Octave modules.

RCEClassifier is the scikit-learn estimator; sphnet.dask.predict maps a fitted one over the
blocks of a Dask array or data frame.
"""
from ._classifier import NegativeRadiusWarning, RCEClassifier

__all__ = ["RCEClassifier", "NegativeRadiusWarning"]
__version__ = "1.0.0"
