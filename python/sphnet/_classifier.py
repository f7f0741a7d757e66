"""RCEClassifier: the RCE hypersphere network as a scikit-learn estimator.

The network is trained on class numbers 1..K (the sorted unique labels), the way the Octave
model functions train it, so that both give the same nodes from the same data and settings.
Standardisation and the automatic Rmax come from the compiled core, as in Octave.
"""
import warnings

import numpy as np
from sklearn.base import BaseEstimator, ClassifierMixin
from sklearn.exceptions import ConvergenceWarning
from sklearn.utils.multiclass import check_classification_targets
from sklearn.utils.validation import check_is_fitted

from . import _core, _model_file

# A typical distance or Rmax below this lies within a factor 1e4 of the 1e-8 tolerance by which
# spheres cover patterns.
TINY_SCALE = 1e-4


class NegativeRadiusWarning(UserWarning):
    """Training left nodes with a negative radius: they cover nothing, but the nearest-node
    rule still uses them."""


class TinyScaleWarning(UserWarning):
    """The data's typical distance (the median the automatic Rmax measures) or the rmax given
    is below 1e-4, within a factor 1e4 of the 1e-8 coverage tolerance: that tolerance, not the
    radii, would decide which patterns a sphere covers. standardize=True helps."""


class RCEClassifier(ClassifierMixin, BaseEstimator):
    """Restricted Coulomb Energy network of hypersphere prototypes.

    Training presents the patterns in order, pass after pass, until a pass creates no node or
    `max_passes` passes have run. A new pattern not covered by a node of its own label becomes
    a node of radius `rmax`, shrunk (with the spheres of other labels it meets) to keep
    `margin` between labels. Prediction gives each pattern the label of the first node, in
    creation order, whose sphere covers it; outside every sphere, the nearest node's label
    (fallback='nearest', ties to the earliest node) or `unknown_label` (fallback='unknown').

    Parameters
    ----------
    norm : float >= 1 or np.inf, order of the Minkowski distance.
    rmax : float >= 0, np.inf (a new node covers everything until conflicts shrink it, as in
        Octave) or 'auto' (half the median distance among up to 500 evenly spaced training
        patterns, after standardisation; 1 if that is not positive). A TinyScaleWarning says
        when that median, or the rmax given, is below 1e-4.
    margin : float >= 0, gap kept between spheres of different labels.
    max_passes : int >= 1, limit on passes over the training set.
    standardize : bool, train and predict on z-scores of the training columns.
    fallback : 'nearest' or 'unknown', the label of patterns outside every sphere.
    unknown_label : the label for fallback='unknown'; None picks np.nan for float labels, -1 for
        integer labels, False for bool and '' for strings.
    verbose : bool or 0..3, the core's console trace (1: summaries; 2, 3: per pattern).

    Attributes
    ----------
    centers_ : (n_nodes, n_features) node centres in creation order, in the standardised space
        when standardize=True.
    radii_ : (n_nodes,) node radii.
    node_labels_ : (n_nodes,) node labels, from classes_.
    classes_ : sorted unique training labels (labels new in later partial_fit calls appended).
    mean_, scale_ : the standardisation (zeros and ones when standardize=False).
    rmax_ : the Rmax used.
    n_passes_ : passes reported (a converged run's confirming pass not counted).
    converged_ : whether the last pass created no node.
    n_features_in_ : number of features.

    save(path) writes the fitted model as a model file that sphnet.load, and Octave's
    sphnet_load, read back.
    """

    def __init__(self, norm=2, rmax="auto", margin=0, max_passes=50, standardize=False,
                 fallback="nearest", unknown_label=None, verbose=False):
        self.norm = norm
        self.rmax = rmax
        self.margin = margin
        self.max_passes = max_passes
        self.standardize = standardize
        self.fallback = fallback
        self.unknown_label = unknown_label
        self.verbose = verbose

    def fit(self, X, y):
        """Trains a new network on X (n_samples, n_features) with labels y."""
        return self._train(X, y, None, first=True)

    def partial_fit(self, X, y, classes=None):
        """Goes on training the current network, its nodes first and in order, on X and y, as
        sphnet_fit's 'Start' does; the first call starts a new one.

        classes: on the first call, the labels to know from the start (sorted; by default those
        of y; y must lie within them). Later calls may bring labels not seen before, in y (or in
        classes): they are appended to classes_ in sorted order after the known ones, so
        classes_ is sorted only until then. Their type must be that of the known labels.
        Standardisation and the automatic Rmax come from the first call's data."""
        return self._train(X, y, classes, first=not hasattr(self, "centers_"))

    def _train(self, X, y, classes, first):
        # Nothing of the estimator changes until training has succeeded.
        X, y = self._validate_data(X, y, dtype=np.float64, reset=first)
        check_classification_targets(y)
        self._check_settings()
        if first:
            known = np.unique(y if classes is None else classes)
        else:
            known = self._with_new_classes(y if classes is None else np.concatenate([np.unique(classes), y]))
            if not np.all(np.isfinite(self.radii_)):
                raise ValueError("training cannot go on from nodes of infinite radius (rmax=inf)")
        codes = _codes_of(known, y)
        if not first:
            mean, scale, rmax = self.mean_, self.scale_, self.rmax_
            start_nodes, start_codes = self._node_rows(), self._node_codes()
        elif self.standardize:
            mean, scale = _core.statistics(X, float(self.norm))
        else:
            mean, scale = np.zeros(X.shape[1]), np.ones(X.shape[1])
        Z = (X - mean) / scale if self.standardize else X
        if first:
            start_nodes = start_codes = None
            if _is_auto(self.rmax):
                _, _, rmax, typical, spread = _core.statistics(Z, float(self.norm), typical=True)
                if 0 < typical < TINY_SCALE:
                    _warn_tiny_scale(f"the data's typical distance ({typical:g})")
                elif typical == 0 and 0 < spread < TINY_SCALE:
                    # Most sampled patterns are equal and the others lie within a tiny distance.
                    _warn_tiny_scale(f"the data's spread ({spread:g})")
            else:
                rmax = float(self.rmax)
                if rmax < TINY_SCALE:
                    _warn_tiny_scale(f"rmax ({rmax:g})")
        nodes, node_codes, passes, converged = _core.learn(
            Z, codes, float(self.norm), rmax, float(self.margin), int(self.max_passes),
            self._verbosity(), start_nodes, start_codes)
        self.classes_, self.mean_, self.scale_, self.rmax_ = known, mean, scale, rmax
        self._keep_nodes(nodes, node_codes, passes, converged)
        return self

    def _with_new_classes(self, labels):
        """classes_ with the labels not in it appended, sorted, as sphnet_fit's 'Start' does."""
        labels = np.unique(labels)
        if _label_group(labels) != _label_group(self.classes_):
            raise ValueError(f"labels {labels!r} are not of the type of classes_ {self.classes_!r}")
        fresh = np.setdiff1d(labels, self.classes_)
        if fresh.size == 0:
            return self.classes_
        merged = np.concatenate([self.classes_, fresh])
        if merged.dtype.kind != self.classes_.dtype.kind:
            raise ValueError(f"new labels {fresh!r} are not of the type of classes_ {self.classes_!r}")
        return merged

    def save(self, path):
        """Writes the fitted model to path as a model file that sphnet.load and Octave's
        sphnet_load read: a MAT file holding the fields of sphnet_fit's model struct and the
        file format's version. Labels must be numbers, bools or strings."""
        check_is_fitted(self, "centers_")
        _model_file.save(self, path)

    def predict(self, X):
        """Labels for the rows of X."""
        return self._labels_from_codes(_core.recall(*self._recall_arguments(X)))

    def predict_info(self, X):
        """Labels and what decided them, per row of X, as a dict of arrays:
        label; node, the 1-based number of the deciding node (the first covering node, else the
        nearest with fallback='nearest'; 0: none); distance to it (NaN: none); covered;
        cover_count, how many nodes cover the row; status, 'identified' (covered, all covering
        nodes of one label), 'uncertain' (covering nodes disagree) or 'unknown' (not covered)."""
        found = _core.recall(*self._recall_arguments(X), info=True)
        covered = found["cover_count"] > 0
        status = np.where(found["labels_disagree"] != 0, "uncertain", "identified")
        return {"label": self._labels_from_codes(found["label"]),
                "node": found["node"].astype(np.intp),
                "distance": found["distance"],
                "covered": covered,
                "cover_count": found["cover_count"].astype(np.intp),
                "status": np.where(covered, status, "unknown")}

    def _recall_arguments(self, X):
        check_is_fitted(self, "centers_")
        X = self._validate_data(X, dtype=np.float64, reset=False)
        return (self._node_rows(), self._node_codes(), float(self.norm), self._scaled(X), 0,
                self.fallback == "nearest", self._verbosity())

    def _node_rows(self):
        return np.hstack([self.centers_, self.radii_[:, np.newaxis]])

    def _scaled(self, X):
        return (X - self.mean_) / self.scale_ if self.standardize else X

    def _keep_nodes(self, nodes, node_codes, passes, converged):
        self.centers_ = nodes[:, :-1]
        self.radii_ = nodes[:, -1].copy()
        self.node_labels_ = self.classes_[node_codes.astype(np.intp) - 1]
        self.n_passes_ = int(passes)
        self.converged_ = bool(converged)
        if not converged:
            warnings.warn(f"RCE training stopped at max_passes={self.max_passes} before a pass "
                          f"created no node; {nodes.shape[0]} nodes", ConvergenceWarning)
        negative = int(np.count_nonzero(self.radii_ < 0))
        if negative:
            warnings.warn(f"{negative} of {nodes.shape[0]} nodes have a negative radius: they "
                          "cover nothing but still count for the nearest-node rule",
                          NegativeRadiusWarning)

    def _node_codes(self):
        # Class numbers 1..K, as the network was trained on them.
        return _codes_of(self.classes_, self.node_labels_)

    def _unknown_value(self):
        if self.unknown_label is not None:
            return self.unknown_label
        kind = self.classes_.dtype.kind
        if kind == "f":
            return np.nan
        if kind in "iu":
            return -1
        if kind == "b":
            return False
        if kind in "US" or all(isinstance(label, str) for label in self.classes_):
            return ""
        return None

    def _label_dtype(self):
        """The classes' dtype, or object where it cannot hold the unknown label."""
        dtype = self.classes_.dtype
        if self.fallback == "nearest":
            return dtype
        value = self._unknown_value()
        try:
            stored = np.array([value]).astype(dtype)
            fits = stored[0] == value or (_is_nan(value) and _is_nan(stored[0]))
        except (TypeError, ValueError, OverflowError):
            fits = False
        return dtype if fits else np.dtype(object)

    def _labels_from_codes(self, codes):
        codes = codes.astype(np.intp)
        labels = self.classes_[np.maximum(codes - 1, 0)].astype(self._label_dtype())
        labels[codes == 0] = self._unknown_value()
        return labels

    def _verbosity(self):
        return int(self.verbose)

    def _check_settings(self):
        if not _is_number(self.norm) or not self.norm >= 1:
            raise ValueError(f"norm must be a number >= 1 or np.inf, got {self.norm!r}")
        if not _is_auto(self.rmax) and (not _is_number(self.rmax) or not self.rmax >= 0):
            raise ValueError(f"rmax must be 'auto' or a number >= 0, got {self.rmax!r}")
        if not _is_number(self.margin) or not 0 <= self.margin < np.inf:
            raise ValueError(f"margin must be a finite number >= 0, got {self.margin!r}")
        if not _is_number(self.max_passes) or not 1 <= self.max_passes < np.inf or self.max_passes != int(self.max_passes):
            raise ValueError(f"max_passes must be a whole number >= 1, got {self.max_passes!r}")
        if self.standardize not in (False, True):
            raise ValueError(f"standardize must be a bool, got {self.standardize!r}")
        if self.fallback not in ("nearest", "unknown"):
            raise ValueError(f"fallback must be 'nearest' or 'unknown', got {self.fallback!r}")
        if self.verbose not in (False, True, 0, 1, 2, 3):
            raise ValueError(f"verbose must be a bool or 0..3, got {self.verbose!r}")


def _codes_of(classes, labels):
    """Class numbers 1..K of labels in classes (which need not be sorted), as floats."""
    labels = np.asarray(labels)
    if labels.size and _label_group(labels) != _label_group(classes):
        raise ValueError(f"y holds labels outside classes_ {classes!r}")
    order = np.argsort(classes, kind="stable")
    ordered = classes[order]
    spot = np.minimum(np.searchsorted(ordered, labels), ordered.size - 1)
    if np.any(ordered[spot] != labels):
        raise ValueError(f"y holds labels outside classes_ {classes!r}")
    return order[spot] + 1.0


def _label_group(labels):
    """Labels that can share one classes_: numbers, bools or strings."""
    kind = labels.dtype.kind
    if kind == "O" and all(isinstance(label, str) for label in labels.ravel()):
        kind = "U"
    return {"i": "f", "u": "f", "S": "U"}.get(kind, kind)


def _warn_tiny_scale(what):
    warnings.warn(f"{what} is below 1e-4, within a factor 1e4 of the 1e-8 tolerance by which spheres "
                  "cover patterns: that tolerance, not the radii, would decide. Scale the data up or use "
                  "standardize=True", TinyScaleWarning, stacklevel=4)


def _is_auto(rmax):
    return isinstance(rmax, str) and rmax == "auto"


def _is_number(value):
    return isinstance(value, (int, float, np.integer, np.floating)) and not isinstance(value, bool)


def _is_nan(value):
    return isinstance(value, (float, np.floating)) and np.isnan(value)
