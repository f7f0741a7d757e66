"""sphnet: RCE hypersphere-network classifier over the same C++ core as the Octave modules.

RCEClassifier is the scikit-learn estimator; sphnet.load reads a model file (written by
RCEClassifier.save or Octave's sphnet_save) as a fitted one; sphnet.dask.predict maps a fitted
one over the blocks of a Dask array or data frame.
"""
from ._classifier import NegativeRadiusWarning, RCEClassifier, TinyScaleWarning
from ._model_file import load

__all__ = ["RCEClassifier", "NegativeRadiusWarning", "TinyScaleWarning", "load"]
__version__ = "1.0.0"
