"""The module against the tools: the same curve to the bit, the same labels,
the same model and assignment; bad input as ValueError.

Run by CTest (python/tests/run_tests.sh) with KELBOW_BIN (the built tools) and
KELBOW_SOURCE (the checkout) set.
"""

import io
import os
import re
import shutil
import subprocess

import numpy as np
import pandas as pd
import pytest

import kelbow

BIN = os.environ.get("KELBOW_BIN", "")
SOURCE = os.environ.get("KELBOW_SOURCE", os.path.join(os.path.dirname(__file__), "..", ".."))
EXAMPLES = os.path.join(SOURCE, "examples")
REAL = os.path.join(SOURCE, "..", "shared", "data")


def tool(name, *args, cwd=None):
    path = os.path.join(BIN, name)
    if not os.path.exists(path):
        pytest.skip(f"{path} is not built")
    done = subprocess.run([path, *args], cwd=cwd, capture_output=True, text=True)
    assert done.returncode == 0, done.stderr
    return done


def read_table(base):
    """The codes of a table in the tool's own format, and its value texts
    (from BASE.codes when it exists, else each code standing for itself)."""
    with open(base + ".desc") as f:
        numbers = f.read().split()
    rows, attributes = int(numbers[0]), int(numbers[1])
    domains = [int(d) for d in numbers[2:2 + attributes]]
    codes = np.loadtxt(base + ".data", dtype=np.int32, ndmin=2)
    assert codes.shape == (rows, attributes)
    values = [[str(v) for v in range(d)] for d in domains]
    if os.path.exists(base + ".codes"):
        with open(base + ".codes", encoding="utf-8", errors="surrogateescape") as f:
            for line in f.read().splitlines():
                fields = line.split("\t")
                values[int(fields[0])] = fields[1:]
    return codes, values


def kelbow_block(tmp_path, base):
    """kelbow's block for the table BASE (run on a copy), its values as float32."""
    for ext in (".data", ".desc"):
        shutil.copy(base + ext, tmp_path / ("t" + ext))
    tool("kelbow", "-d", "t.data", "-n", "t.desc", cwd=tmp_path)
    lines = (tmp_path / "t.data.kelbow").read_text().split("\n")
    at = lines.index("kelbow") + 1  # after the data file's name (and the tree's parameters)
    return lines[at:at + 29]


def same_block(model, lines):
    """The module's curve_ holds the block's values to the bit, and its block
    text is kelbow's."""
    floats = np.array([np.float32(v) for v in lines], dtype=np.float32)
    return (model.curve_.dtype == np.float32 and model.curve_.tobytes() == floats.tobytes()
            and model.kelbow_block_.split("\n")[2:31] == lines)


def tool_labels(tmp_path, base, k, *more):
    out = tmp_path / f"labels{k}"
    tool("kelbow-labels", "-d", base + ".data", "-n", base + ".desc", "-k", str(k), "-o",
         str(out), *more)
    return np.loadtxt(out, dtype=np.int32)


@pytest.mark.parametrize("name", ["planted4", "mushroom"])
def test_codes_give_the_tools_curve_and_labels(tmp_path, name):
    base = (os.path.join(EXAMPLES, name) if name == "planted4"
            else os.path.join(REAL, name, name))
    if not os.path.exists(base + ".data"):
        pytest.skip(f"{base}.data is missing (the real sets live in ../shared/data)")
    codes, values = read_table(base)
    model = kelbow.KElbow(references=4, orders=0).fit(codes, values=values)
    assert same_block(model, kelbow_block(tmp_path, base))
    assert model.k_ == model.recommended_k_ >= 1
    if model.k_ > 1:
        assert model.candidates_["k"].iloc[0] == model.k_
        assert np.array_equal(model.labels_, tool_labels(tmp_path, base, model.k_))
    for k in (2, 7):
        assert np.array_equal(model.labels_at(k), tool_labels(tmp_path, base, k))
    evidence = model.evidence_
    assert list(evidence["k"]) == list(range(2, 31))
    assert np.array_equal(evidence["value"].to_numpy(), model._fit.kelbow_values)


def test_frame_is_encoded_as_kelbow_csv_encodes_the_file(tmp_path):
    csv = os.path.join(EXAMPLES, "critters.csv")
    tool("kelbow-csv", "--quiet", "-o", str(tmp_path / "critters"), csv)
    base = str(tmp_path / "critters")
    frame = pd.read_csv(csv, dtype=str, keep_default_na=False)
    model = kelbow.KElbow(k=4, references=3, orders=0).fit(frame)
    assert same_block(model, kelbow_block(tmp_path, base))
    assert model.k_ == 4
    assert np.array_equal(model.labels_, tool_labels(tmp_path, base, 4))
    assert np.array_equal(model.fit_predict(frame), model.labels_)
    codes, values = read_table(base)
    assert model.feature_names_in_ == (tmp_path / "critters.names").read_text().splitlines()
    assert [list(v) for v in model._table_.values] == values

    # The model is kelbow-labels --model's, byte for byte; predict places the
    # training rows as kelbow-assign does; a saved model predicts the same.
    tool_labels(tmp_path, base, 4, "--model", str(tmp_path / "tool.model"))
    model.save(tmp_path / "module.model")
    assert (tmp_path / "module.model").read_bytes() == (tmp_path / "tool.model").read_bytes()
    placed = tool("kelbow-assign", "-q", str(tmp_path / "tool.model"), csv).stdout
    assigned = pd.read_csv(io.StringIO(placed), dtype=str, keep_default_na=False)
    expected = assigned["cluster"].replace("", "0").astype(int).to_numpy()
    assert np.array_equal(model.predict(frame), expected)
    loaded = kelbow.load(tmp_path / "module.model")
    assert loaded.k_ == 4
    assert np.array_equal(loaded.predict(frame), expected)
    assert np.array_equal(loaded.predict(codes), model.predict(codes))


def test_numbers_and_dates_are_typed_and_binned_as_kelbow_csv_does(tmp_path):
    # The file's texts, with kelbow-csv's options handed on.
    csv = os.path.join(EXAMPLES, "survey.csv")
    frame = pd.read_csv(csv, dtype=str, keep_default_na=False).drop(columns=["id"])
    tool("kelbow-csv", "--quiet", "--drop", "id", "--bins", "4", "--dates", "joined=year,month",
         "-m", "?,", "-o", str(tmp_path / "survey"), csv)
    base = str(tmp_path / "survey")
    model = kelbow.KElbow(k=3, references=2, orders=0, bins=4, missing=["?", ""],
                          dates={"joined": ["year", "month"]}).fit(frame)
    assert same_block(model, kelbow_block(tmp_path, base))
    assert np.array_equal(model.labels_, tool_labels(tmp_path, base, 3))
    assert model.feature_names_in_ == (tmp_path / "survey.names").read_text().splitlines()
    # New rows go through the bins and date parts as kelbow-assign codes the file.
    # (The model files differ only in the column numbers: the frame has no id.)
    tool_labels(tmp_path, base, 3, "--model", str(tmp_path / "tool.model"))
    placed = tool("kelbow-assign", "-q", str(tmp_path / "tool.model"), csv).stdout
    assigned = pd.read_csv(io.StringIO(placed), dtype=str, keep_default_na=False)
    expected = assigned["cluster"].replace("", "0").astype(int).to_numpy()
    assert np.array_equal(model.predict(pd.read_csv(csv, dtype=str, keep_default_na=False)),
                          expected)

    # pandas' own dtypes: numbers binned, a datetime column split into parts,
    # a category column and a missing cell as categories.
    rng = np.random.default_rng(3)
    typed = pd.DataFrame({
        "age": rng.integers(18, 90, 300),
        "income": rng.normal(5e4, 1e4, 300).round(2),
        "when": pd.Timestamp("2020-01-01") + pd.to_timedelta(rng.integers(0, 700, 300), "D"),
        "kind": pd.Categorical(rng.choice(["a", "b", "c"], 300)),
        "note": rng.choice(["x", "y", None], 300),
    })
    fitted = kelbow.KElbow(k=2, references=2, orders=0, dates={"when": "month"},
                           bins={"age": 3}).fit(typed)
    names = fitted.feature_names_in_
    assert names == ["age", "income", "when.month", "kind", "note"]
    values = dict(zip(names, fitted._table_.values))
    assert len(values["age"]) == 3 and len(values["income"]) == 6
    assert all(v.startswith("[") or v.startswith("(") for v in values["income"])
    assert sorted(values["kind"]) == ["a", "b", "c"] and "" in values["note"]


def typed_frame(rows, seed):
    """A frame of every kind of column kelbow-csv tells apart."""
    rng = np.random.default_rng(seed)
    return pd.DataFrame({
        "word": rng.choice(["red", "green", "blue, dark", 'say "hi"', None], rows),
        "few": rng.choice([1.5, 2.0, -0.0, 0.0, np.nan], rows),  # -0.0 is written apart
        "age": rng.integers(18, 90, rows),
        "income": rng.normal(5e4, 1e4, rows).round(2),
        "when": pd.Timestamp("2020-01-01") + pd.to_timedelta(rng.integers(0, 10**8, rows), "s"),
        "day": pd.Timestamp("2021-03-01") + pd.to_timedelta(rng.integers(0, 400, rows), "D"),
        "kind": pd.Categorical(rng.choice(["a", "b", "c"], rows)),
        "flag": rng.choice([True, False], rows),
        "mixed": pd.Series(rng.choice([1, 1.0, True, "1", None, "x"], rows), dtype=object),
        "stray": rng.choice(["1", "2", "3,5", "NA", "?"] + [str(i) for i in range(30)], rows),
        "constant": ["k"] * rows,
        "code": [f"r{i:05d}" for i in range(rows)],
        "row": np.arange(rows),
    })


@pytest.mark.parametrize("rows, options", [
    (400, []),
    (400, ["--dates", "when=year,month,hour", "--dates", "day=weekday", "--missing", "NA,?,",
           "--bins", "age=3", "--cut", "income=40000,50000.5", "--categorical", "row"]),
    (400, ["--bins", "4", "--day-first", "--decimal-comma", "--drop", "code"]),
    (70000, ["--missing", "", "--drop", "code,row"]),  # past the exact counts of numbers
    (400, ["--dates", "day=hour"]),  # refused: dates without a time
    (400, ["--bins", "kind=3"]),  # refused: no numbers
])
def test_a_frame_is_handed_over_as_kelbow_csv_reads_its_file(tmp_path, rows, options):
    # The old road is the reference: the frame written by to_csv, coded by
    # kelbow-csv (its lines) and by the module's CSV entry (its table).
    frame = typed_frame(rows, rows)
    path = str(tmp_path / "frame.csv")
    frame.to_csv(path, index=False, lineterminator="\n")
    kelbow_csv = os.path.join(BIN, "kelbow-csv")
    if not os.path.exists(kelbow_csv):
        pytest.skip(f"{kelbow_csv} is not built")
    done = subprocess.run([kelbow_csv, "-d", ",", "--header", *options, "-o",
                           str(tmp_path / "t"), path], capture_output=True, text=True)
    place = re.compile(r"DataFrame:\d+:\d+:")  # the byte column is the field's place here
    said = [place.sub("DataFrame:L:C:", line.replace(path, "DataFrame"))
            for line in done.stderr.splitlines()
            if not re.search(r": (wrote|read a second time) ", line)]
    try:
        table, lines = kelbow._encode_frame(frame, options)
    except ValueError as refused:
        assert done.returncode != 0 and said[-1] == place.sub("DataFrame:L:C:", str(refused))
        return
    assert done.returncode == 0, done.stderr
    assert [place.sub("DataFrame:L:C:", line) for _, line in lines] == said
    assert [warning for warning, _ in lines] == [": warning: " in line for line in said]
    reference, _ = kelbow._kelbow.encode_csv(path, str(tmp_path / "u"),
                                             ["-d", ",", "--header", *options], "DataFrame")
    assert table.names == reference.names and table.values == reference.values
    assert np.array_equal(table.codes(), reference.codes())
    # The same fit: curve, labels and the model with its encoding record.
    fits = [kelbow._kelbow.fit(t, 3, 2, 0, 1, 1, 50000, False, 20) for t in (table, reference)]
    assert fits[0].model_json() == fits[1].model_json()
    assert fits[0].kelbow_block == fits[1].kelbow_block.replace(path, "DataFrame")
    assert np.array_equal(fits[0].labels, fits[1].labels)


def test_profile_and_report(tmp_path):
    frame = pd.read_csv(os.path.join(EXAMPLES, "critters.csv"), dtype=str,
                        keep_default_na=False)
    model = kelbow.KElbow(k=4, references=3, orders=0).fit(frame.drop(columns=["id", "class"]))
    profile = model.profile(top=3)
    assert sorted(profile["cluster"].unique()) == [1, 2, 3, 4]
    assert (profile.groupby("cluster")["rank"].max() <= 3).all()
    sizes = profile.groupby("cluster")["size"].first()
    assert sizes.sum() == len(frame)
    assert list(sizes) == [int((model.labels_ == c).sum()) for c in range(1, 5)]
    assert (profile["share"] > profile["overall_share"]).all()
    assert sorted(model.profile(k=2)["cluster"].unique()) == [1, 2]
    ranked = model.variables()
    assert set(ranked["attribute"]) == set(model.feature_names_in_)
    assert ranked["cramers_v"].is_monotonic_decreasing
    model.report(tmp_path / "r.html")
    page = (tmp_path / "r.html").read_text()
    assert page.startswith("<!DOCTYPE html>") and "</html>" in page
    assert '"k": 4' in model.report_json().replace('"k":4', '"k": 4')


def test_bad_input_raises_value_error_with_the_tools_line(tmp_path):
    with pytest.raises(ValueError, match=r"record 2, attribute 1: the code -3 is outside"):
        kelbow.KElbow().fit(np.array([[0, 1], [-3, 1]]))
    with pytest.raises(ValueError, match="2-D integer array"):
        kelbow.KElbow().fit(np.array([0.5, 1.0]))
    with pytest.raises(ValueError, match="every attribute has domain size 1"):
        kelbow.KElbow().fit(np.zeros((5, 3), dtype=int))
    with pytest.raises(ValueError, match="k takes a number from 2 to 30"):
        kelbow.KElbow(k=31).fit(np.array([[0, 1], [1, 0], [1, 1]]))
    # A frame kelbow-csv refuses: its message, naming the frame, not a file.
    with pytest.raises(ValueError) as refused:
        kelbow.KElbow().fit(pd.DataFrame({"a": ["x"] * 5}))
    assert str(refused.value) == ("DataFrame: every attribute has domain size 1; "
                                  "there is nothing to cluster")
    with pytest.raises(ValueError, match=r"^kelbow-csv: --bins 1: a count of bins from 2 to 1000"):
        kelbow.KElbow(bins=1).fit(pd.DataFrame({"a": ["x", "y"] * 5}))
    (tmp_path / "bad.model").write_text('{"format": "something else"}')
    with pytest.raises(ValueError, match="bad.model"):
        kelbow.load(tmp_path / "bad.model")
    fitted = kelbow.KElbow(references=2, orders=0).fit(
        np.array([[r % 2, r % 3, (r // 2) % 2] for r in range(40)]))
    with pytest.raises(ValueError, match="the levels are 1 to"):
        fitted.labels_at(99)
    with pytest.raises(ValueError, match="attributes; the model has 3"):
        fitted.predict(np.zeros((2, 4), dtype=int))
