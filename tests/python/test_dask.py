"""sphnet.dask.predict on a two-worker cluster gives the labels of a single-process predict."""
import pathlib

import numpy as np
import pytest

pytest.importorskip("distributed")
import dask.array as da
import dask.dataframe as dd
import pandas as pd
from distributed import Client, LocalCluster

import sphnet.dask
from sphnet import RCEClassifier

DATA = pathlib.Path(__file__).resolve().parents[2] / "data"


def test_recall_on_two_workers():
    table = np.loadtxt(DATA / "digits.csv", delimiter=",")
    X, y = table[:, :-1], table[:, -1].astype(int)
    model = RCEClassifier(standardize=True, fallback="unknown").fit(X[::2], y[::2])
    expected = model.predict(X)
    assert np.any(expected == -1) and np.any(expected != -1)

    blocks = da.from_array(X, chunks=(250, 40))
    labels = sphnet.dask.predict(model, blocks)
    graph = dict(labels.__dask_graph__())
    assert sum(task is model for task in graph.values()) == 1  # one copy of the nodes, shared by every block
    frame = dd.from_pandas(pd.DataFrame(X, index=np.arange(len(X)) * 3), npartitions=3)
    with LocalCluster(n_workers=2, threads_per_worker=1, processes=False, dashboard_address=None) as cluster, \
            Client(cluster):
        np.testing.assert_array_equal(labels.compute(), expected)
        series = sphnet.dask.predict(model, frame).compute()
    np.testing.assert_array_equal(series.to_numpy(), expected)
    assert series.index.equals(frame.index.compute())
