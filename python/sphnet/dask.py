"""Recall on Dask: a fitted RCEClassifier labels the row blocks of a Dask array or data frame.

The model enters the task graph once, as one delayed object every block task refers to: the
scheduler ships it to each worker once, not with every task. A worker's threads label their
blocks at the same time: the core's calls share no state and run without the interpreter lock.
Training stays on one machine (it presents the patterns in order, pass after pass).
"""
import dask
import dask.array as da
import dask.dataframe as dd
import numpy as np
import pandas as pd
from sklearn.utils.validation import check_is_fitted


def predict(model, X):
    """Labels for the rows of X, lazily: a Dask array for a Dask array (its rows chunked as
    X's), a Dask series for a Dask data frame (partitioned and indexed as X)."""
    check_is_fitted(model, "centers_")
    shared = dask.delayed(model, pure=True)
    dtype = model._label_dtype()
    if isinstance(X, dd.DataFrame):
        return X.map_partitions(_predict_frame, shared, meta=pd.Series([], dtype=dtype))
    if isinstance(X, da.Array):
        if X.ndim != 2:
            raise ValueError(f"X must be a 2-D Dask array, got {X.ndim} dimensions")
        whole_rows = X.rechunk({1: -1})
        return da.map_blocks(_predict_block, whole_rows, shared, drop_axis=1,
                             chunks=(whole_rows.chunks[0],), meta=np.empty((0,), dtype=dtype))
    raise TypeError(f"X must be a dask.array.Array or dask.dataframe.DataFrame, got {type(X).__name__}")


def _predict_block(block, model):
    return model.predict(block)


def _predict_frame(frame, model):
    return pd.Series(model.predict(frame.to_numpy(dtype=np.float64)), index=frame.index)
