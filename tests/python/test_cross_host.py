"""Python and Octave give bit-identical standardisation, Rmax, nodes and labels on the shipped
data sets: Octave's half runs octave_reference_nodes.m against the modules in build/toolbox
(or $SPHNET_TOOLBOX)."""
import os
import pathlib
import shutil
import subprocess

import numpy as np
import pytest

from sphnet import RCEClassifier, _core

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
    parts = np.split(values[2:], np.cumsum([1, n, n, m * (n + 1), m, n_patterns]))
    rmax, mean, scale, nodes, node_labels, labels, shifted = parts
    return rmax[0], mean, scale, nodes.reshape(m, n + 1), node_labels, labels, shifted


@pytest.mark.parametrize("name", DATASETS)
@pytest.mark.parametrize("norm", NORMS)
def test_python_matches_octave(octave_results, name, norm):
    table = np.loadtxt(ROOT / "data" / f"{name}.csv", delimiter=",")
    X, y = table[:, :-1], table[:, -1]
    model = RCEClassifier(norm=norm, standardize=True).fit(X, y)
    rmax, mean, scale, nodes, node_labels, labels, shifted = read_octave(octave_results, name, norm, len(X))
    assert model.rmax_ == rmax
    np.testing.assert_array_equal(model.mean_, mean)
    np.testing.assert_array_equal(model.scale_, scale)
    np.testing.assert_array_equal(model.centers_, nodes[:, :-1])
    np.testing.assert_array_equal(model.radii_, nodes[:, -1])
    np.testing.assert_array_equal(model._node_codes(), node_labels)
    np.testing.assert_array_equal(model.predict(X), model.classes_[labels.astype(int) - 1])
    Z = model._scaled(X)
    np.testing.assert_array_equal(_core.recall(nodes, node_labels, norm, Z + 0.25), shifted)
