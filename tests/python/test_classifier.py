"""RCEClassifier and sphnet._core through the Python host layer."""
import io
import pathlib
import signal
import sys
import threading
import warnings
from concurrent.futures import ThreadPoolExecutor

import numpy as np
import pytest
import scipy.io
from sklearn.exceptions import ConvergenceWarning
from sklearn.utils.estimator_checks import check_estimator

import sphnet
from sphnet import RCEClassifier, TinyScaleWarning, _core

DATA = pathlib.Path(__file__).resolve().parents[2] / "data"


def load(name):
    table = np.loadtxt(DATA / f"{name}.csv", delimiter=",")
    return table[:, :-1], table[:, -1]


def test_check_estimator():
    check_estimator(RCEClassifier())


def test_partial_fit_goes_on_where_a_pass_ended():
    X, y = load("iris")
    labels = np.array(["setosa", "versicolor", "virginica"])[y.astype(int) - 1]
    with pytest.warns(ConvergenceWarning):
        model = RCEClassifier(standardize=True, max_passes=1).fit(X, labels)
    assert not model.converged_
    with pytest.warns(ConvergenceWarning):
        model.partial_fit(X, labels)
        whole = RCEClassifier(standardize=True, max_passes=2).fit(X, labels)
    np.testing.assert_array_equal(model.centers_, whole.centers_)
    np.testing.assert_array_equal(model.radii_, whole.radii_)
    np.testing.assert_array_equal(model.node_labels_, whole.node_labels_)
    with pytest.raises(ValueError, match="outside classes_"):  # the first call's classes hold every label of y
        RCEClassifier().partial_fit(X[:2], ["setosa", "unseen"], classes=["setosa", "virginica"])


@pytest.mark.parametrize("labels, unknown", [
    (np.array([1.0, 2.0]), np.nan),
    (np.array([3, 7]), -1),
    (np.array([True, False]), False),
    (np.array(["no", "yes"]), ""),
    (np.array(["no", "yes"], dtype=object), ""),
])
def test_unknown_label_follows_the_label_type(labels, unknown):
    X = np.array([[0.0, 0.0], [4.0, 0.0]])
    model = RCEClassifier(rmax=1, fallback="unknown").fit(X, labels)
    predicted = model.predict(np.array([[0.1, 0.0], [2.0, 5.0], [4.0, 0.2]]))
    assert predicted.dtype == labels.dtype
    assert predicted[0] == labels[0] and predicted[2] == labels[1]
    assert predicted[1] == unknown or (np.isnan(unknown) and np.isnan(predicted[1]))
    custom = RCEClassifier(rmax=1, fallback="unknown", unknown_label="none").fit(X, labels)
    assert custom.predict([[2.0, 5.0]])[0] == "none"


# Unscaled digits (integers in 64 columns) put the cover census on single-precision panels.
@pytest.mark.parametrize("name, options", [("iris", dict(rmax=0.8, standardize=True)), ("digits", {})])
def test_predict_info_against_every_distance(name, options):
    X, y = load(name)
    model = RCEClassifier(norm=2, **options).fit(X[::2], y[::2])
    queries = model._scaled(X[1::2])
    info = model.predict_info(X[1::2])
    np.testing.assert_array_equal(info["label"], model.predict(X[1::2]))
    assert model.predict_info(X[1:2])["cover_count"][0] == info["cover_count"][0]
    distances = np.linalg.norm(queries[:, np.newaxis, :] - model.centers_[np.newaxis], axis=2)
    covers = distances <= model.radii_ + 1e-8
    np.testing.assert_array_equal(info["cover_count"], covers.sum(axis=1))
    np.testing.assert_array_equal(info["covered"], covers.any(axis=1))
    deciding = np.where(covers.any(axis=1), covers.argmax(axis=1), distances.argmin(axis=1))
    np.testing.assert_array_equal(info["node"], deciding + 1)
    np.testing.assert_allclose(info["distance"], distances[np.arange(len(queries)), deciding], rtol=1e-12)
    disagree = [len(set(model.node_labels_[row])) > 1 for row in covers]
    expected = np.where(~covers.any(axis=1), "unknown", np.where(disagree, "uncertain", "identified"))
    np.testing.assert_array_equal(info["status"], expected)
    assert set(expected) >= {"identified", "unknown"}


def test_array_layouts_read_alike():
    X, y = load("breast_cancer")
    nodes, node_labels, _, _ = _core.learn(X, y, 2, 200, 0, 50)
    np.testing.assert_array_equal(_core.learn(np.asfortranarray(X), y, 2, 200, 0, 50)[0], nodes)
    # Training reads row and column views in place, start nodes too.
    start = nodes[:5]
    for view, labels in [(np.asfortranarray(X), y), (X[::-2], y[::-2]), (np.hstack([X, X])[:, ::2], y)]:
        for start_view in [start, np.asfortranarray(start)]:
            np.testing.assert_array_equal(
                _core.learn(view, labels, 2, 200, 0, 50, 0, start_view, node_labels[:5])[0],
                _core.learn(np.ascontiguousarray(view), labels, 2, 200, 0, 50, 0, start, node_labels[:5])[0])
    # Recall reads float64 at whole-value steps in place (gathering rows that are not contiguous),
    # other layouts through a C-ordered copy.
    for view in [np.asfortranarray(X), X[::2], X[::-1], X.astype(np.float32), np.hstack([X, X])[:, ::2]]:
        np.testing.assert_array_equal(_core.recall(nodes, node_labels, 2, view),
                                      _core.recall(nodes, node_labels, 2, np.ascontiguousarray(view, np.float64)))
    np.testing.assert_array_equal(_core.recall(np.asfortranarray(nodes), node_labels, 2, X),
                                  _core.recall(nodes, node_labels, 2, X))


@pytest.mark.parametrize("call, message", [
    (lambda: _core.learn([[0.0, np.nan]], [1], 2, 1, 0, 5), "NaN or Inf"),
    (lambda: _core.learn([[0.0]], [1, 2], 2, 1, 0, 5), "one per row"),
    (lambda: _core.learn([[0.0]], [1], 0.5, 1, 0, 5), "norm"),
    (lambda: _core.learn([[0.0]], [1], 2, 1, np.inf, 5), "margin"),
    (lambda: _core.learn([[0.0]], [3e9], 2, 1, 0, 5), "32-bit"),
    (lambda: _core.recall([[0.0, 1.0]], [1], 2, [[0.0, 1.0]]), "1 columns"),
    (lambda: _core.recall([[np.inf, 1.0]], [1], 2, [[0.0]]), "finite centres"),
    (lambda: RCEClassifier(norm=0).fit([[0.0]], [1]), "norm"),
    (lambda: RCEClassifier(fallback="vote").fit([[0.0]], [1]), "fallback"),
])
def test_bad_input_raises_value_error(call, message):
    with pytest.raises(ValueError, match=message):
        call()


def test_threads_fit_and_predict_as_one_thread_does():
    # One thread per norm, all in the core at once: no call may see another's settings.
    X, y = load("digits")
    X, y = X[::2], y[::2]
    norms = [1, 1.5, 2, np.inf]

    def run(norm):
        model = RCEClassifier(norm=norm, standardize=True).fit(X, y)
        return (model.centers_, model.radii_, model.node_labels_, model.predict(X),
                model.predict_info(X)["node"])

    serial = {norm: run(norm) for norm in norms}
    start = threading.Barrier(len(norms))

    def rounds(norm):
        start.wait()
        return [run(norm) for _ in range(2)]

    with ThreadPoolExecutor(len(norms)) as pool:
        for norm, results in zip(norms, pool.map(rounds, norms)):
            for result in results:
                for got, expected in zip(result, serial[norm]):
                    np.testing.assert_array_equal(got, expected, err_msg=f"norm {norm}")


def test_console_text_reaches_sys_stdout(capsys):
    RCEClassifier(verbose=True).fit([[0.0], [1.0]], [1, 2])
    out = capsys.readouterr().out
    assert "pass 1: 2 nodes, 2 patterns made a node" in out
    assert "RCE training converged after 1 list presentation" in out


@pytest.mark.skipif(threading.current_thread() is not threading.main_thread(), reason="signals reach the main thread")
def test_ctrl_c_interrupts_training(capsys):
    rng = np.random.default_rng(7)
    X = rng.standard_normal((40000, 20))
    y = rng.integers(1, 3, 40000).astype(float)
    # A runner started in the background (nohup, &) inherits SIGINT ignored: Python's own handler.
    previous = signal.signal(signal.SIGINT, signal.default_int_handler)
    timer = threading.Timer(0.2, signal.raise_signal, (signal.SIGINT,))
    timer.start()
    try:
        with pytest.raises(KeyboardInterrupt):
            _core.learn(X, y, 2, 3.0, 0, 2, verbosity=1)
    finally:
        timer.cancel()
        signal.signal(signal.SIGINT, previous)
    assert "pass 1:" not in capsys.readouterr().out  # stopped inside the first pass, not after it


def test_ctrl_c_during_a_console_line_is_not_lost(monkeypatch):
    # A signal handler may run while the core prints: its KeyboardInterrupt must stop the call.
    class InterruptedStdout(io.StringIO):
        def write(self, text):
            if "pass 1:" in text:
                raise KeyboardInterrupt
            return super().write(text)

    X, y = load("digits")
    stdout = InterruptedStdout()
    monkeypatch.setattr(sys, "stdout", stdout)
    with pytest.raises(KeyboardInterrupt):
        _core.learn(X, y, 2, 30.0, 0, 5, verbosity=1)
    assert "pass 2:" not in stdout.getvalue()


def test_settings_of_wrong_type_raise_value_error():
    # As sphnet_fit's options: every setting refuses values of the wrong type, size or range.
    X, y = [[0.0, 0.0], [1.0, 1.0]], [1, 2]
    for setting in ("norm", "rmax", "margin", "max_passes", "standardize", "verbose"):
        for value in ([1], {"a": 1}, "big", 1j, None, np.nan, [1, 2], np.sin, -np.inf, np.inf):
            if value is np.inf and setting in ("norm", "rmax"):
                continue  # allowed
            with pytest.raises(ValueError, match=setting):
                RCEClassifier(**{setting: value}).fit(X, y)
    with pytest.raises(ValueError, match="0 feature"):
        RCEClassifier().fit(np.zeros((5, 0)), np.arange(5))


def test_tiny_scale_warns_unless_standardized():
    X, y = load("iris")
    for options, data, tiny in [({}, 1e-6 * X, True), ({"rmax": 5e-5}, X, True),
                                ({"standardize": True}, 1e-6 * X, False), ({}, 1e-3 * X, False),
                                ({}, 1e-200 * X, True)]:
        with warnings.catch_warnings(record=True) as caught:
            warnings.simplefilter("always")
            RCEClassifier(**options).fit(data, y)
        found = [w for w in caught if issubclass(w.category, TinyScaleWarning)]
        assert bool(found) == tiny, options
    assert "1e-8 tolerance" in str(found[0].message) if tiny else True
    assert issubclass(TinyScaleWarning, UserWarning)


def test_partial_fit_appends_new_classes():
    # Later calls may bring new labels: appended to classes_, sorted, after the known ones; the
    # nodes are those of a model that knew every class from the start.
    X, y = load("iris")
    labels = np.array(["setosa", "versicolor", "virginica"])[y.astype(int) - 1]
    late = RCEClassifier(rmax=0.5).partial_fit(X[50:], labels[50:]).partial_fit(X, labels)
    known = RCEClassifier(rmax=0.5).partial_fit(X[50:], labels[50:], classes=labels).partial_fit(X, labels)
    assert list(late.classes_) == ["versicolor", "virginica", "setosa"]
    assert list(known.classes_) == ["setosa", "versicolor", "virginica"]
    for field in ("centers_", "radii_", "node_labels_"):
        np.testing.assert_array_equal(getattr(late, field), getattr(known, field))
    np.testing.assert_array_equal(late.predict(X), known.predict(X))
    with pytest.raises(ValueError, match="type"):
        late.partial_fit(X[:1], [3])
    assert list(late.classes_) == ["versicolor", "virginica", "setosa"]  # untouched by the refusal


def test_model_files_round_trip_and_refuse_damage(tmp_path):
    X, y = load("wine")
    path = tmp_path / "model.mat"
    for labels in (y, y.astype(np.int32), y > 1, np.array(["a", "bb", "c"])[y.astype(int) - 1]):
        model = RCEClassifier(norm=1.5, standardize=True).fit(X, labels)
        model.save(path)
        loaded = sphnet.load(path)
        assert loaded.classes_.dtype == model.classes_.dtype
        for field in ("centers_", "radii_", "node_labels_", "mean_", "scale_", "rmax_", "n_passes_"):
            np.testing.assert_array_equal(getattr(loaded, field), getattr(model, field), err_msg=field)
        np.testing.assert_array_equal(loaded.predict(X + 0.25), model.predict(X + 0.25))
    contents = scipy.io.loadmat(path, mat_dtype=True)
    whole = path.read_bytes()
    damage = [("cannot be read", lambda: path.write_bytes(whole[:-20])),
              ("cannot be read", lambda: path.write_text("1,2\n3,4\n")),
              ("no sphnet model", lambda: scipy.io.savemat(path, {"x": 1.0})),
              ("format 2", lambda: scipy.io.savemat(path, {**contents, "sphnet_format": 2.0})),
              ("lacks the model fields radii", lambda: scipy.io.savemat(path, {k: v for k, v in contents.items() if k != "radii"})),
              ("nodeClass", lambda: scipy.io.savemat(path, {**contents, "nodeClass": contents["nodeClass"] + 5}))]
    for message, spoil in damage:
        spoil()
        with pytest.raises(ValueError, match=message):
            sphnet.load(path)
