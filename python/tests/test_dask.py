"""Parsing on a dask.distributed cluster of two worker processes gives the
same frame, row for row and in order, as parsing in this process."""
import dask.dataframe as dd
import pandas as pd
import pytest
from dask.distributed import Client, LocalCluster

import zarn
import zarn.dask


@pytest.fixture(scope="module")
def client():
    cluster = LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                           dashboard_address=None, silence_logs=40)
    with cluster, Client(cluster) as c:
        yield c


@pytest.fixture(scope="module")
def frame(sample):
    return pd.DataFrame({"id": range(len(sample)), "address": sample},
                        index=pd.RangeIndex(1000, 1000 + len(sample)))


def test_cluster_matches_single_process(client, frame, database):
    ddf = dd.from_pandas(frame, npartitions=7)
    parts = zarn.dask.parse_frame(ddf, "address", database=database)
    assert parts.npartitions == 7
    got = parts.compute()
    want = zarn.parse_series(frame["address"], parser=zarn.Parser(database))
    pd.testing.assert_frame_equal(got, want)
    assert list(got.index) == list(frame.index)
    # The workers opened the database themselves; this process never did.
    opened = client.run(zarn.dask.opened_databases)
    assert len(opened) == 2
    assert any(paths == [database] for paths in opened.values()), opened
    assert all(paths in ([], [database]) for paths in opened.values()), opened
    assert zarn.dask.opened_databases() == []


def test_keep_columns_and_shuffled_partitions(client, frame, database):
    shuffled = frame.sample(frac=1.0, random_state=7)
    ddf = dd.from_pandas(shuffled, npartitions=5, sort=False)
    got = zarn.dask.parse_frame(ddf, "address", database=database, keep_columns=True).compute()
    assert list(got.columns) == ["id", "address", *zarn.COLUMNS]
    assert list(got.index) == list(shuffled.index)
    want = zarn.parse_series(shuffled["address"], parser=zarn.Parser(database))
    pd.testing.assert_frame_equal(got[list(zarn.COLUMNS)], want)


def test_keep_columns_with_repeated_index_labels(client, database):
    pdf = pd.DataFrame({"address": ["123 Main St", "5 Elm Ave", "7 Oak Rd"]}, index=[0, 0, 1])
    ddf = dd.from_pandas(pdf, npartitions=1)
    got = zarn.dask.parse_frame(ddf, "address", database=database, keep_columns=True).compute()
    assert list(got["address"]) == list(pdf["address"])
    assert list(got["street"]) == ["Main", "Elm", "Oak"]


def test_errors_on_workers(client, database):
    pdf = pd.DataFrame({"address": ["123 Main St", b"12 Ave\xff", None, "Apt 5 21st Ave"]})
    ddf = dd.from_pandas(pdf, npartitions=2)
    with pytest.raises(zarn.Error) as info:
        zarn.dask.parse_frame(ddf, "address", database=database).compute()
    assert info.value.number == zarn.ERROR_INVALID_ARGUMENT
    got = zarn.dask.parse_frame(ddf, "address", database=database, errors="coerce").compute()
    assert got.loc[1].isna().all() and got.loc[2].isna().all()
    assert got.loc[3, "unit"] == "5"


def test_missing_database_on_workers(client, tmp_path):
    ddf = dd.from_pandas(pd.DataFrame({"address": ["1 Main St"]}), npartitions=1)
    with pytest.raises(zarn.Error) as info:
        zarn.dask.parse_frame(ddf, "address", database=str(tmp_path / "none.DAT")).compute()
    assert info.value.number == 14


def test_bad_arguments(frame):
    ddf = dd.from_pandas(frame, npartitions=2)
    with pytest.raises(KeyError):
        zarn.dask.parse_frame(ddf, "nope")
    with pytest.raises(TypeError):
        zarn.dask.parse_frame(frame, "address")
    with pytest.raises(ValueError):
        zarn.dask.parse_frame(ddf, "address", errors="skip")


def test_profile_on_workers(client, frame, database):
    ddf = dd.from_pandas(frame, npartitions=3)
    got = zarn.dask.parse_frame(ddf, "address", database=database, profile="canada").compute()
    want = zarn.parse_series(frame["address"], parser=zarn.Parser(database, profile="canada"))
    pd.testing.assert_frame_equal(got, want)
    with pytest.raises(ValueError, match="profile"):
        zarn.dask.parse_frame(ddf, "address", database=database, profile="nonsense")


def test_standard_on_workers(client, frame, database):
    ddf = dd.from_pandas(frame, npartitions=3)
    got = zarn.dask.parse_frame(ddf, "address", database=database, standard=True,
                                keep_columns=True).compute()
    want = zarn.parse_series(frame["address"], parser=zarn.Parser(database), standard=True)
    pd.testing.assert_frame_equal(got[list(want.columns)], want)
    # The default (canada) profile's standard columns end with the whole
    # address's delivery and last lines; the specified rules' with the three.
    assert list(got.columns)[-5:] == (list(zarn.STANDARD_COLUMNS)
                                      + list(zarn.WHOLE_STANDARD_COLUMNS))
    specified = zarn.dask.parse_frame(ddf, "address", database=database, profile="specified",
                                      standard=True).compute()
    assert list(specified.columns)[-3:] == list(zarn.STANDARD_COLUMNS)
    with pytest.raises(ValueError, match="language"):
        zarn.dask.parse_frame(ddf, "address", database=database, standard=True, language="de")
    # The canada profile adds the whole address's delivery and last lines.
    got = zarn.dask.parse_frame(ddf, "address", database=database, profile="canada",
                                standard=True).compute()
    want = zarn.parse_series(frame["address"], parser=zarn.Parser(database, profile="canada"),
                             standard=True)
    pd.testing.assert_frame_equal(got, want)
    assert list(got.columns)[-5:] == (list(zarn.STANDARD_COLUMNS)
                                      + list(zarn.WHOLE_STANDARD_COLUMNS))


def test_flags_on_workers(client, frame, database):
    ddf = dd.from_pandas(frame, npartitions=3)
    got = zarn.dask.parse_frame(ddf, "address", database=database, profile="canada",
                                flags=True).compute()
    want = zarn.parse_series(frame["address"], parser=zarn.Parser(database, profile="canada"),
                             flags=True)
    pd.testing.assert_frame_equal(got, want)
    assert list(got.columns)[-2:] == list(zarn.FLAG_COLUMNS)
