"""Cluster categorical tables by entropy, exactly as the kelbow tools do.

The estimator :class:`KElbow` follows the conventions of scikit-learn without
depending on it::

    import pandas as pd
    import kelbow

    frame = pd.read_csv("survey.csv")
    model = kelbow.KElbow().fit(frame)
    print(model.k_, model.candidates_)
    frame["cluster"] = model.labels_
    print(model.profile().head())
    model.save("survey.model.json")
    model.report("survey.report.html")

``fit`` takes a pandas DataFrame, whose columns are typed, binned and coded as
kelbow-csv types them, or a 2-D integer array of codes 0 .. d-1. The curve, the
labels and the model are those of kelbow, kelbow-labels and kelbow-labels
--model on the same table, to the last bit. Bad input raises ValueError with
the line the tools print.
"""

import csv
import io
import os
import tempfile
import warnings

import numpy as np

from . import _kelbow

__version__ = _kelbow.__version__
__all__ = ["KElbow", "load"]

_NAME = "DataFrame"


def _is_frame(x):
    return type(x).__name__ == "DataFrame" and hasattr(x, "to_csv")


def _csv_texts(values):
    """The texts pandas' to_csv writes for the cells of a Series `values`
    (none of them missing), in order."""
    text = values.to_csv(index=False, header=False, lineterminator="\n")
    return [row[0] if row else "" for row in csv.reader(io.StringIO(text))]


def _column_codes(column):
    """One column of a frame handed over as kelbow-csv would read it from the
    frame's CSV file: int32 codes per row (-1 for a missing cell, which to_csv
    writes as the empty field) into the texts of the column's distinct values,
    each text as to_csv writes that value. Values that pandas counts as one
    but writes differently (0.0 and -0.0; 1, 1.0 and True in an object
    column) stay apart; values written alike are joined by the encoder."""
    pd = _pandas()
    dtype = column.dtype
    if isinstance(dtype, np.dtype) and dtype.kind == "f":
        data = column.to_numpy()
        codes, _ = pd.factorize(np.ascontiguousarray(data).view(f"i{dtype.itemsize}"))
        codes[np.isnan(data)] = -1
    else:
        codes, uniques = pd.factorize(column, use_na_sentinel=True)
        if dtype == object and not all(type(u) is str for u in uniques):
            # Python's 1 == 1.0 == True: factorize by type and value.
            keys = column.map(lambda v: (type(v), v), na_action="ignore")
            codes, uniques = pd.factorize(keys, use_na_sentinel=True)
        elif dtype == object or isinstance(dtype, pd.StringDtype):
            return codes.astype(np.int32), [str(u) for u in uniques]
    codes = codes.astype(np.int32)
    count = int(codes.max(initial=-1)) + 1
    # The codes are in the order of first appearance: code c first appears
    # where their running maximum first reaches c.
    first = np.searchsorted(np.maximum.accumulate(codes), np.arange(count))
    first = np.minimum(first, len(codes) - 1)
    taken = column.iloc[first]
    texts = _csv_texts(taken) if count else []
    return codes, texts


def _frame_columns(frame):
    """The names, codes and texts of a frame's columns (_column_codes)."""
    names, codes, texts = [], [], []
    for i in range(frame.shape[1]):
        column_codes, column_texts = _column_codes(frame.iloc[:, i])
        names.append(str(frame.columns[i]))
        codes.append(column_codes)
        texts.append(column_texts)
    return names, codes, texts


def _encode_frame(frame, options):
    """The Table of a frame, typed and coded as kelbow-csv codes the frame's
    CSV file with `options` (its typing options as words), and what
    kelbow-csv says of it: (is_warning, line) pairs."""
    return _kelbow.encode_columns(*_frame_columns(frame), options, _NAME)


def _pandas():
    import pandas
    return pandas


class KElbow:
    """The kelbow estimator: clusters a table once, chooses the number of
    clusters K from reference tables without structure and other row orders
    (as kelbow-choose), and labels every row (as kelbow-labels).

    Parameters
    ----------
    k : int or None
        The number of clusters of ``labels_`` (2..30); None takes the
        recommendation (1 when the table shows no cluster structure).
    references : int
        Reference tables (2..1000; kelbow-choose's -r).
    orders : int or None
        Other row orders (0..1000; None: kelbow-choose's default by size).
    seed : int
        Seed of the references and the orders.
    refine : bool
        Move rows between the K clusters as kelbow-labels --refine does.
    passes : int
        With refine, at most this many passes over the rows.
    bins : int, dict or None
        How DataFrame columns of numbers are cut: N bins for every numeric
        column (kelbow-csv --bins N) or {column: N} (--bins COL=N).
    missing : list of str or None
        Markers of a missing value in DataFrame cells (kelbow-csv -m); a
        missing cell (NaN, None) is written as the empty field.
    categorical : list or None
        DataFrame columns kept as categories whatever they hold.
    dates : dict or None
        {column: parts} making categories of a date column (kelbow-csv
        --dates COL=PARTS; parts a list of year, quarter, month, day,
        weekday, hour).
    threads : int
        Threads for the reference and order runs (1..1024).
    reference_rows : int
        Rows of a reference table at most.

    Attributes (after fit)
    ----------------------
    curve_ : numpy.ndarray of float32, 29 values
        The kelbow block's values for K = 2..30 as the block states them.
    kelbow_block_ : str
        The block as kelbow appends it to DATA.kelbow (the data-file line
        names the table: the DataFrame or the codes).
    candidates_ : pandas.DataFrame
        The supported K (the recommendation first) with their evidence.
    evidence_ : pandas.DataFrame
        The evidence at every K = 2..30.
    recommended_k_ : int
        The recommendation (1: no cluster structure).
    k_ : int
        The number of clusters of labels_: k, or the recommendation.
    labels_ : numpy.ndarray of int32
        The cluster 1..k_ of every row, numbered by size, largest first.
    feature_names_in_ : list of str
        The attribute names (DataFrame columns as coded, or 1, 2, ...).
    model_ : the model of the k_ clusters that predict uses.
    """

    def __init__(self, k=None, references=10, orders=None, seed=1, refine=False, passes=20,
                 bins=None, missing=None, categorical=None, dates=None, threads=1,
                 reference_rows=50000):
        self.k = k
        self.references = references
        self.orders = orders
        self.seed = seed
        self.refine = refine
        self.passes = passes
        self.bins = bins
        self.missing = missing
        self.categorical = categorical
        self.dates = dates
        self.threads = threads
        self.reference_rows = reference_rows

    def get_params(self, deep=True):
        """The constructor's parameters by name."""
        return {name: getattr(self, name) for name in (
            "k", "references", "orders", "seed", "refine", "passes", "bins", "missing",
            "categorical", "dates", "threads", "reference_rows")}

    def set_params(self, **params):
        """Sets constructor parameters by name; returns the estimator."""
        for name, value in params.items():
            if name not in self.get_params():
                raise ValueError(f"KElbow has no parameter {name!r}")
            setattr(self, name, value)
        return self

    # The table -----------------------------------------------------------

    def _csv_options(self):
        """kelbow-csv's options for the encoding parameters."""
        options = []
        if isinstance(self.bins, dict):
            for column, n in self.bins.items():
                options += ["--bins", f"{column}={int(n)}"]
        elif self.bins is not None:
            options += ["--bins", str(int(self.bins))]
        if self.missing:
            options += ["--missing", ",".join(str(m) for m in self.missing)]
        if self.categorical:
            options += ["--categorical", ",".join(str(c) for c in self.categorical)]
        for column, parts in (self.dates or {}).items():
            parts = parts if isinstance(parts, str) else ",".join(parts)
            options += ["--dates", f"{column}={parts}"]
        return options

    def _table(self, X, names=None, values=None):
        if _is_frame(X):
            if X.shape[0] == 0:
                raise ValueError(f"{_NAME}: the frame has no rows")
            table, said = _encode_frame(X, self._csv_options())
            for warning, line in said:
                if warning:
                    warnings.warn(line, stacklevel=3)
            return table
        codes = np.asarray(X)
        if codes.ndim != 2 or not np.issubdtype(codes.dtype, np.integer):
            raise ValueError("X must be a pandas DataFrame or a 2-D integer array of codes, "
                             f"not {codes.ndim}-D {codes.dtype}")
        if codes.size and (codes.max() > np.iinfo(np.int32).max or codes.min() < -1):
            bad = np.argwhere((codes > np.iinfo(np.int32).max) | (codes < 0))[0]
            raise ValueError(f"codes: record {bad[0] + 1}, attribute {bad[1] + 1}: the code "
                             f"{codes[bad[0], bad[1]]} is outside 0..2147483646")
        if names is not None and values is None:
            values = [[str(v) for v in range(d)] for d in codes.max(axis=0, initial=0) + 1]
        if values is not None:
            values = [[str(v) for v in vs] for vs in values]
            names = ([str(a + 1) for a in range(len(values))] if names is None
                     else [str(n) for n in names])
        return _kelbow.table_of_codes(np.ascontiguousarray(codes, dtype=np.int32), names or [],
                                      values or [], [], "codes")

    # Fitting -------------------------------------------------------------

    def fit(self, X, y=None, names=None, values=None):
        """Clusters X and chooses K; returns the estimator. y is ignored.

        X is a pandas DataFrame or a 2-D integer array of codes. For an
        array, attribute a has its largest code + 1 values unless `values`
        gives the text of each code of each attribute (values[a][code]; its
        lengths are the domain sizes, as a description file declares them),
        and `names` the attribute names (default 1, 2, ...)."""
        table = self._table(X, names, values)
        fitted = _kelbow.fit(table, 0 if self.k is None else int(self.k), int(self.references),
                             -1 if self.orders is None else int(self.orders), int(self.seed),
                             int(self.threads), int(self.reference_rows), bool(self.refine),
                             int(self.passes))
        self._from_fit(fitted, table, _is_frame(X))
        return self

    def fit_predict(self, X, y=None, names=None, values=None):
        """fit(X), then labels_."""
        return self.fit(X, y, names, values).labels_

    def _from_fit(self, fitted, table, frame):
        self._fit = fitted
        self._table_ = table
        self._frame = frame
        self.curve_ = np.asarray(fitted.curve, dtype=np.float32)
        self.kelbow_block_ = fitted.kelbow_block
        self.recommended_k_ = fitted.recommended
        self.k_ = fitted.k
        self.labels_ = np.asarray(fitted.labels)
        self.feature_names_in_ = list(table.names)
        self.refinement_ = fitted.refinement
        self.model_ = _kelbow.read_model(fitted.model_json(), "model")
        pd = _pandas() if frame or _has_pandas() else None
        evidence = fitted.evidence
        if pd is not None:
            self.evidence_ = pd.DataFrame(evidence)
            order = {k: i for i, k in enumerate(fitted.candidates)}
            chosen = self.evidence_[self.evidence_["k"].isin(order)].copy()
            chosen["_order"] = chosen["k"].map(order)
            self.candidates_ = (chosen.sort_values("_order").drop(columns="_order")
                                .reset_index(drop=True))
        else:
            self.evidence_ = evidence
            self.candidates_ = list(fitted.candidates)

    def _check_fitted(self):
        if not hasattr(self, "_fit") and not hasattr(self, "model_"):
            raise ValueError("this KElbow is not fitted yet; call fit first")

    def labels_at(self, k):
        """The cluster 1..k of every training row at level k of the hierarchy,
        without clustering again (kelbow-labels -k K)."""
        self._check_fitted()
        return np.asarray(self._fitted().labels_at(int(k)))

    def _fitted(self):
        if not hasattr(self, "_fit"):
            raise ValueError("a loaded model has no training table: labels_at, profile and "
                             "report need fit")
        return self._fit

    # New rows ------------------------------------------------------------

    def _assign(self, X):
        """Cluster and margin of every row of X, as kelbow-assign places the
        rows of a CSV file: a DataFrame's cells as the file of the frame holds
        them, coded through the model's record of how each attribute was made
        (bins, date parts, split columns); an array as codes of the model."""
        if _is_frame(X):
            return self.model_.assign_columns(*_frame_columns(X), _NAME)
        codes = np.asarray(X)
        if codes.ndim != 2 or not np.issubdtype(codes.dtype, np.integer):
            raise ValueError("X must be a pandas DataFrame or a 2-D integer array of codes")
        return self.model_.assign(np.ascontiguousarray(codes, dtype=np.int32))

    def predict(self, X):
        """The cluster 1..k_ of every row of X (0 when no value of a row was
        seen in training), as kelbow-assign places it."""
        self._check_fitted()
        clusters, _ = self._assign(X)
        return np.asarray(clusters)

    def predict_margin(self, X):
        """predict(X) and each row's margin (the second-least rise of a
        cluster's entropy value minus the least)."""
        self._check_fitted()
        clusters, margins = self._assign(X)
        return np.asarray(clusters), np.asarray(margins)

    # What the clusters are -----------------------------------------------

    def profile(self, k=None, top=5):
        """The values that set each cluster apart at level k (k_ when None),
        at most `top` per cluster, most distinctive first, with their share
        in the cluster and overall, lift, z and p-value: a DataFrame."""
        self._check_fitted()
        return _pandas().DataFrame(self._fitted().profile(0 if k is None else int(k), int(top)))

    def variables(self, k=None):
        """The attributes ranked by how strongly they separate the clusters
        of level k (Cramer's V, chi-square, degrees, p-value): a DataFrame."""
        self._check_fitted()
        return _pandas().DataFrame(self._fitted().variables(0 if k is None else int(k)))

    def report_html(self, k=None, top=5, typical=5):
        """The report of level k as one self-contained HTML page (text)."""
        return self._fitted().report_html(0 if k is None else int(k), int(top), int(typical))

    def report_json(self, k=None, top=5, typical=5):
        """The report's figures as JSON text."""
        return self._fitted().report_json(0 if k is None else int(k), int(top), int(typical))

    def report(self, path, k=None, top=5, typical=5):
        """Writes the HTML report of level k to path (kelbow-report's page)."""
        self._check_fitted()
        _write_whole(path, self.report_html(k, top, typical))

    # The model file ------------------------------------------------------

    def save(self, path):
        """Writes the model of the k_ clusters to path in the model file
        format (kelbow-labels --model; kelbow-assign reads it)."""
        self._check_fitted()
        _write_whole(path, self.model_.json())

    @classmethod
    def load(cls, path):
        """An estimator that predicts with the model file at path; the
        training table is not in the file, so labels_at, profile and report
        are not available."""
        with open(path, "rb") as f:
            text = f.read().decode("utf-8", errors="surrogateescape")
        est = cls()
        est.model_ = _kelbow.read_model(text, str(path))
        est.k_ = est.model_.k
        est.feature_names_in_ = list(est.model_.names)
        return est


def load(path):
    """KElbow.load(path): an estimator over a model file."""
    return KElbow.load(path)


def _has_pandas():
    try:
        import pandas  # noqa: F401
        return True
    except ImportError:
        return False


def _write_whole(path, text):
    """Writes text to path through a temporary beside it, so that a failed
    write leaves the old file as it was."""
    path = os.fspath(path)
    directory = os.path.dirname(os.path.abspath(path))
    fd, temporary = tempfile.mkstemp(prefix=".kelbow-", dir=directory)
    try:
        mask = os.umask(0o22)
        os.umask(mask)
        os.fchmod(fd, 0o666 & ~mask)  # as a file the tools write, not mkstemp's 0600
        with os.fdopen(fd, "wb") as f:
            f.write(text.encode("utf-8", errors="surrogateescape"))
        os.replace(temporary, path)
    except BaseException:
        os.unlink(temporary)
        raise
