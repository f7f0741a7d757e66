"""Python and Octave give bit-identical standardisation, Rmax, nodes, labels and recall info on
the shipped data sets: RCEClassifier against sphnet_fit / sphnet_predict, and its nodes against
the classic sphnet_learn. Model files saved by either host load in the other and predict the
same labels (of the same type) and info. Octave's half runs octave_reference_nodes.m and
octave_model_files.m with the modules in build/toolbox (or $SPHNET_TOOLBOX)."""
import os
import pathlib
import shutil
import subprocess

import numpy as np
import pytest
import scipy.io

import sphnet
from sphnet import RCEClassifier

ROOT = pathlib.Path(__file__).resolve().parents[2]
TOOLBOX = pathlib.Path(os.environ.get("SPHNET_TOOLBOX", ROOT / "build" / "toolbox"))
NORMS = [1, 2, 1.5, np.inf]
DATASETS = ["iris", "breast_cancer", "digits"]
ALL_DATASETS = ["iris", "wine", "breast_cancer", "digits"]


def norm_name(norm):
    return "Inf" if np.isinf(norm) else f"{norm:g}"


def typed_labels(name, y):
    """Labels of a type per data set, as octave_model_files.m gives them in Octave."""
    if name in ("iris", "wine"):
        names = ["setosa", "versicolor", "virginica"] if name == "iris" else ["one", "two", "three"]
        return np.array(names, dtype=object if name == "wine" else str)[y.astype(int) - 1]
    return y == y.max() if name == "breast_cancer" else y.astype(np.int64)


@pytest.fixture(scope="module")
def python_models(tmp_path_factory):
    """Python's model files, written before Octave runs, and the models that wrote them."""
    out = tmp_path_factory.mktemp("octave")
    models = {}
    for name in ALL_DATASETS:
        table = np.loadtxt(ROOT / "data" / f"{name}.csv", delimiter=",")
        for norm in NORMS:
            model = RCEClassifier(norm=norm, standardize=True).fit(table[:, :-1], typed_labels(name, table[:, -1]))
            model.save(out / f"python_{name}_{norm_name(norm)}.mat")
            models[name, norm] = model
    return out, models


@pytest.fixture(scope="module")
def octave_results(python_models):
    octave = shutil.which("octave-cli")
    if octave is None:
        pytest.skip("octave-cli is not installed: the Octave half of the cross-host test cannot run")
    assert (TOOLBOX / "sphnet_learn.mex").exists(), f"no Octave modules in {TOOLBOX}: build them first"
    out = python_models[0]
    script = f"addpath('{TOOLBOX}'); addpath('{ROOT / 'tests' / 'python'}'); " \
             f"octave_reference_nodes('{out}', '{ROOT / 'data'}'); octave_model_files('{out}', '{ROOT / 'data'}');"
    subprocess.run([octave, "--no-gui", "--norc", "--no-history", "--quiet", "--eval", script],
                   check=True, timeout=600, env={**os.environ, "DISPLAY": ""})
    return out


def read_octave(out, name, norm, n_patterns):
    values = np.fromfile(out / f"{name}_{'Inf' if np.isinf(norm) else f'{norm:g}'}.bin")
    m, n = int(values[0]), int(values[1])
    sizes = [1, n, n, m * (n + 1), m, m * (n + 1)] + [n_patterns] * 6
    parts = np.split(values[2:], np.cumsum(sizes)[:-1])
    fields = ["rmax", "mean", "scale", "nodes", "node_classes", "classic_nodes", "labels",
              "shifted_labels", "node", "distance", "cover_count", "status"]
    found = dict(zip(fields, parts))
    found["nodes"] = found["nodes"].reshape(m, n + 1)
    found["classic_nodes"] = found["classic_nodes"].reshape(m, n + 1)
    found["status"] = np.array(["identified", "uncertain", "unknown"])[found["status"].astype(int) - 1]
    return found


@pytest.mark.parametrize("name", DATASETS)
@pytest.mark.parametrize("norm", NORMS)
def test_python_matches_octave(octave_results, name, norm):
    table = np.loadtxt(ROOT / "data" / f"{name}.csv", delimiter=",")
    X, y = table[:, :-1], table[:, -1]
    model = RCEClassifier(norm=norm, standardize=True).fit(X, y)
    octave = read_octave(octave_results, name, norm, len(X))
    assert model.rmax_ == octave["rmax"][0]
    np.testing.assert_array_equal(model.mean_, octave["mean"])
    np.testing.assert_array_equal(model.scale_, octave["scale"])
    for nodes in (octave["nodes"], octave["classic_nodes"]):
        np.testing.assert_array_equal(model.centers_, nodes[:, :-1])
        np.testing.assert_array_equal(model.radii_, nodes[:, -1])
    np.testing.assert_array_equal(model._node_codes(), octave["node_classes"])
    np.testing.assert_array_equal(model.predict(X), octave["labels"])
    info = model.predict_info(X + 0.25)
    np.testing.assert_array_equal(info["label"], octave["shifted_labels"])
    for field in ("node", "distance", "cover_count", "status"):
        np.testing.assert_array_equal(info[field], octave[field], err_msg=field)


def read_results(path):
    """Octave's predictions on a data set's patterns shifted by 0.25, as Python's predict_info
    gives them, and the Octave class of the labels."""
    found = scipy.io.loadmat(path, mat_dtype=True)
    labels = found["labels"]
    if labels.dtype == object:  # a cell array of strings
        labels = np.array([str(cell[0]) for cell in labels[:, 0]])
    elif labels.dtype.kind == "U":  # a char matrix
        labels = np.array([row.rstrip(" ") for row in labels])
    status = np.array([str(cell[0]) for cell in found["status"][:, 0]])
    return str(found["labelClass"][0]), {"label": labels.ravel(), "node": found["node"].ravel(),
                                         "distance": found["distance"].ravel(),
                                         "cover_count": found["coverCount"].ravel(), "status": status}


def assert_same_info(info, octave):
    for field in ("label", "node", "distance", "cover_count", "status"):
        np.testing.assert_array_equal(info[field], octave[field], err_msg=field)


@pytest.mark.parametrize("name", ALL_DATASETS)
@pytest.mark.parametrize("norm", NORMS)
def test_model_files_travel(python_models, octave_results, name, norm):
    X = np.loadtxt(ROOT / "data" / f"{name}.csv", delimiter=",")[:, :-1] + 0.25
    # Saved by Python, loaded and used by Octave: labels as strings become a cell array.
    model = python_models[1][name, norm]
    label_class, octave = read_results(octave_results / f"python_{name}_{norm_name(norm)}_out.mat")
    assert label_class == {"U": "cell", "O": "cell", "b": "logical", "i": "int64"}[model.classes_.dtype.kind]
    assert_same_info(model.predict_info(X), octave)
    # Saved by Octave, loaded and used by Python: char and cell labels become strings.
    loaded = sphnet.load(octave_results / f"octave_{name}_{norm_name(norm)}.mat")
    label_class, octave = read_results(octave_results / f"octave_{name}_{norm_name(norm)}_out.mat")
    assert loaded.classes_.dtype.kind == {"cell": "U", "char": "U", "logical": "b", "double": "f"}[label_class]
    assert_same_info(loaded.predict_info(X), octave)


@pytest.mark.parametrize("case", ["inf", "start"])
def test_rmax_inf_and_appended_classes_as_in_octave(octave_results, case):
    """Rmax inf reads alike in both hosts; partial_fit appends new classes as 'Start' does."""
    table = np.loadtxt(ROOT / "data" / "iris.csv", delimiter=",")
    X, y = table[:, :-1], table[:, -1]
    if case == "inf":
        model = RCEClassifier(rmax=np.inf).fit(X, y)
    else:
        model = RCEClassifier(rmax=0.5).fit(X[50:], y[50:]).partial_fit(X, y)
    octave = sphnet.load(octave_results / f"octave_iris_{case}.mat")
    for field in ("classes_", "centers_", "radii_", "node_labels_", "rmax_", "n_passes_", "converged_"):
        np.testing.assert_array_equal(getattr(model, field), getattr(octave, field), err_msg=field)
