"""Model files shared with Octave's sphnet_save / sphnet_load.

A model file is a MAT file (version 5, as Octave's save -v7 writes it) whose variables are the
fields of the model struct sphnet_fit returns, plus sphnet_format, the file format's version.
Labels travel by type: numbers and bools as numeric and logical arrays, strings as a cell
array of strings (Octave's char matrices load as strings, their trailing blanks dropped as
cellstr drops them).
"""
import numpy as np
import scipy.io

FORMAT = 1
MODEL_FIELDS = ("kind", "version", "norm", "rmax", "margin", "centres", "radii", "nodeClass",
                "labels", "classes", "standardize", "summary")


def _column(values):
    return np.asarray(values).reshape(-1, 1)


def _label_column(values):
    """Labels as a MAT array: numbers and bools keep their type, strings become a cell column."""
    values = np.asarray(values)
    if values.dtype.kind in "biuf":
        return _column(values)
    if values.dtype.kind in "US" or all(isinstance(value, str) for value in values):
        cells = np.empty((values.size, 1), dtype=object)
        cells[:, 0] = [str(value) for value in values]
        return cells
    raise ValueError(f"labels of type {values.dtype} cannot be saved: only numbers, bools and strings")


def save(model, path):
    """Writes a fitted RCEClassifier to path."""
    codes = model._node_codes()
    contents = {
        "sphnet_format": float(FORMAT),
        "kind": "sphnet model",
        "version": 1.0,
        "norm": float(model.norm),
        "rmax": float(model.rmax_),
        "margin": float(model.margin),
        "centres": np.asarray(model.centers_, dtype=np.float64),
        "radii": _column(model.radii_.astype(np.float64)),
        "nodeClass": _column(codes),
        "labels": _label_column(model.node_labels_),
        "classes": _label_column(model.classes_),
        "standardize": ({"mu": model.mean_.reshape(1, -1), "sigma": model.scale_.reshape(1, -1)}
                        if model.standardize else np.zeros((0, 0))),
        "summary": {"passes": float(model.n_passes_), "converged": bool(model.converged_),
                    "nodesPerClass": _column(np.bincount(codes.astype(np.intp) - 1,
                                                         minlength=model.classes_.size).astype(np.float64)),
                    "negativeRadii": float(np.count_nonzero(model.radii_ < 0))},
    }
    scipy.io.savemat(path, contents, format="5", do_compression=True, oned_as="column")


def _scalar(contents, name):
    value = contents[name]
    if not (isinstance(value, np.ndarray) and value.dtype.kind in "biuf" and value.size == 1):
        raise ValueError(f"model file: {name} must be a number")
    return float(value.reshape(()))


def _matrix(contents, name):
    value = contents[name]
    if not (isinstance(value, np.ndarray) and value.dtype == np.float64 and value.ndim == 2):
        raise ValueError(f"model file: {name} must be a real double matrix")
    return value


def _labels(value, name):
    """Labels from a MAT array as a 1-D array: numbers, bools or strings."""
    if isinstance(value, np.ndarray) and value.dtype.kind in "biuf" and value.ndim == 2 and value.shape[1] == 1:
        return value[:, 0].copy()
    if isinstance(value, np.ndarray) and value.dtype.kind == "U" and value.ndim == 1:  # a char matrix
        return np.array([row.rstrip(" ") for row in value])
    if isinstance(value, np.ndarray) and value.dtype == object and value.ndim == 2 and value.shape[1] == 1:
        strings = []
        for cell in value[:, 0]:
            if not (isinstance(cell, np.ndarray) and cell.dtype.kind == "U" and cell.size <= 1):
                raise ValueError(f"model file: {name} must hold strings")
            strings.append(str(cell.reshape(-1)[0]) if cell.size else "")
        return np.array(strings)
    raise ValueError(f"model file: {name} must be a column of numbers, bools or strings")


def _struct(contents, name, fields):
    value = contents[name]
    if not (isinstance(value, np.ndarray) and value.dtype.names is not None and value.size == 1
            and set(fields) <= set(value.dtype.names)):
        raise ValueError(f"model file: {name} must be a struct with fields {', '.join(fields)}")
    return {field: value[field].reshape(-1)[0] for field in fields}


def load(path):
    """A fitted RCEClassifier from a model file written by RCEClassifier.save or Octave's
    sphnet_save. A file that is damaged, of another kind or of a newer format raises
    ValueError; nothing half-built is returned."""
    from ._classifier import RCEClassifier
    try:
        contents = scipy.io.loadmat(path, mat_dtype=True, chars_as_strings=True)
    except (FileNotFoundError, IsADirectoryError, PermissionError):
        raise
    except Exception as error:  # scipy raises several kinds (OSError too) on bytes it cannot read
        raise ValueError(f"{path} cannot be read as a MAT file: {error}") from error
    kind = contents.get("kind")
    if "sphnet_format" not in contents or not (isinstance(kind, np.ndarray) and kind.tolist() == ["sphnet model"]):
        raise ValueError(f"{path} holds no sphnet model")
    version = _scalar(contents, "sphnet_format")
    if version > FORMAT:
        raise ValueError(f"{path} has model file format {version:g}; this sphnet reads format {FORMAT}: update sphnet")
    missing = [field for field in MODEL_FIELDS if field not in contents]
    if missing:
        raise ValueError(f"{path} lacks the model fields {', '.join(missing)}")

    if _scalar(contents, "version") != 1:
        raise ValueError("model file: model version must be 1")
    norm, rmax, margin = (_scalar(contents, name) for name in ("norm", "rmax", "margin"))
    centres = _matrix(contents, "centres")
    radii = _matrix(contents, "radii")
    codes = _matrix(contents, "nodeClass")
    classes = _labels(contents["classes"], "classes")
    labels = _labels(contents["labels"], "labels")
    count, width = centres.shape
    if not (norm >= 1 and rmax >= 0 and 0 <= margin < np.inf):
        raise ValueError("model file: norm must be >= 1, rmax >= 0 and margin finite and >= 0")
    if count < 1 or width < 1 or not np.all(np.isfinite(centres)):
        raise ValueError("model file: centres must be finite, at least one node and one column")
    if radii.shape != (count, 1) or np.any(np.isnan(radii)):
        raise ValueError("model file: radii must be a column without NaN, one per node")
    if classes.size < 1 or np.unique(classes).size != classes.size or \
            (classes.dtype.kind == "f" and np.any(np.isnan(classes))):
        raise ValueError("model file: classes must be distinct labels")
    if codes.shape != (count, 1) or np.any(codes != np.round(codes)) or np.any((codes < 1) | (codes > classes.size)):
        raise ValueError("model file: nodeClass must hold a class number per node")
    node_labels = classes[codes[:, 0].astype(np.intp) - 1]
    if labels.dtype.kind != classes.dtype.kind or not np.array_equal(labels, node_labels):
        raise ValueError("model file: labels must be the classes of the nodes")
    scaling = contents["standardize"]
    standardize = not (isinstance(scaling, np.ndarray) and scaling.size == 0 and scaling.dtype.names is None)
    if standardize:
        scaling = _struct(contents, "standardize", ("mu", "sigma"))
        mean, scale = (np.asarray(scaling[field], dtype=np.float64) for field in ("mu", "sigma"))
        if mean.shape != (1, width) or scale.shape != (1, width) or not np.all(np.isfinite(mean)) \
                or not np.all(np.isfinite(scale) & (scale > 0)):
            raise ValueError("model file: standardize must hold finite mu and positive sigma, 1 x n each")
        mean, scale = mean[0], scale[0]
    else:
        mean, scale = np.zeros(width), np.ones(width)
    summary = _struct(contents, "summary", ("passes", "converged"))

    model = RCEClassifier(norm=norm, rmax=rmax, margin=margin, standardize=standardize)
    model.classes_ = classes
    model.centers_ = centres.copy()
    model.radii_ = radii[:, 0].copy()
    model.node_labels_ = node_labels
    model.mean_, model.scale_ = mean, scale
    model.rmax_ = rmax
    model.n_passes_ = int(np.asarray(summary["passes"]).reshape(-1)[0])
    model.converged_ = bool(np.asarray(summary["converged"]).reshape(-1)[0])
    model.n_features_in_ = width
    return model
