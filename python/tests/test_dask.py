"""The Dask example on a LocalCluster of two worker processes: the same
answers as the tessul program for data/pageloads.tsv."""

import pathlib
import sys

import cloudpickle
import pytest
from dask.distributed import Client, LocalCluster

from conftest import DATA_DIR

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[1] / "examples"))
import dask_classify  # noqa: E402

# The workers cannot import the example: its functions travel by value.
cloudpickle.register_pickle_by_value(dask_classify)


@pytest.fixture(scope="module")
def client():
    with LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                      dashboard_address=None) as cluster, Client(cluster) as client:
        yield client


def test_cluster_answers_as_the_program(client, bundled_engine, program_answers):
    pageloads = DATA_DIR / "pageloads.tsv"
    # Small blocks: several partitions, spread over both workers.
    answers = dask_classify.classify(client, pageloads, bundled_engine.to_image(),
                                     blocksize=pageloads.stat().st_size // 5)
    assert answers == [(url, verdict == "block")
                       for verdict, url, *_ in program_answers]
    assert len(client.scheduler_info()["workers"]) == 2
