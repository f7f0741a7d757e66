"""Python and Octave give bit-identical standardisation, Rmax, nodes, labels and recall info on
the shipped data sets: RCEClassifier against sphnet_fit / sphnet_predict, and its nodes against
the classic sphnet_learn. Octave's half runs octave_reference_nodes.m with the modules in
build/toolbox (or $SPHNET_TOOLBOX)."""
import os
import pathlib
import shutil
import subprocess

import numpy as np
import pytest

from sphnet import RCEClassifier

ROOT = pathlib.Path(__file__).resolve().parents[2]
TOOLBOX = pathlib.Path(os.environ.get("SPHNET_TOOLBOX", ROOT / "build" / "toolbox"))
NORMS = [1, 2, 1.5, np.inf]
DATASETS = ["iris", "breast_cancer", "digits"]


@pytest.fixture(scope="module")
def octave_results(tmp_path_factory):
    octave = shutil.which("octave-cli")
    if octave is None:
        pytest.skip("octave-cli is not installed: the Octave half of the cross-host test cannot run")
    assert (TOOLBOX / "sphnet_learn.mex").exists(), f"no Octave modules in {TOOLBOX}: build them first"
    out = tmp_path_factory.mktemp("octave")
    script = f"addpath('{TOOLBOX}'); addpath('{ROOT / 'tests' / 'python'}'); " \
             f"octave_reference_nodes('{out}', '{ROOT / 'data'}');"
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
