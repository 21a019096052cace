"""Classify a request log with Dask: every partition of the log is matched by
an engine loaded from one engine image, which is sent to each worker once.

    python3 dask_classify.py [--list FILE]... [--workers N] REQUESTS

REQUESTS is a request log as the tessul program reads it (url <TAB> type
<TAB> page host, '#' comments), read in blocks of --blocksize bytes, each a
partition. Without --list the lists are data/easylist.txt and
data/easyprivacy.txt of this source tree. Prints "block" or "allow" and the
URL for each request, in the log's order, as `tessul check` begins its
lines. With --scheduler ADDRESS it uses a running cluster instead of
starting a local one; the workers there need the tessul module too.
"""

import argparse
import pathlib

import dask.bag
from dask.distributed import Client, LocalCluster

import tessul

SOURCE_DIR = pathlib.Path(__file__).resolve().parents[2]


def parse_request(line):
    """The (url, type, page) of a log line, or None for a comment or an empty
    line; an empty type or page is None."""
    line = line.rstrip("\n").removesuffix("\r")
    if not line or line.startswith("#"):
        return None
    url, kind, page = (line.split("\t") + ["", ""])[:3]
    return (url, kind or None, page or None)


def classify_partition(lines, image):
    """The (url, blocked) pairs of one partition's log lines."""
    engine = tessul.Engine.from_image(image)
    requests = [request for request in map(parse_request, lines) if request]
    return list(zip((url for url, _, _ in requests),
                    engine.check_many(requests)))


def classify(client, requests_path, image, blocksize="1MiB"):
    """(url, blocked) for every request of the log, in order. The image is
    scattered to every worker once; the partitions refer to it."""
    [image_future] = client.scatter([image], broadcast=True)
    lines = dask.bag.read_text(str(requests_path), blocksize=blocksize)
    return lines.map_partitions(classify_partition, image_future).compute()


def engine_image(list_paths):
    engine = tessul.Engine()
    for path in list_paths:
        engine.parse_file(path)
    return engine.to_image()


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("requests")
    parser.add_argument("--list", action="append", dest="lists")
    parser.add_argument("--workers", type=int, default=2)
    parser.add_argument("--blocksize", default="1MiB")
    parser.add_argument("--scheduler")
    arguments = parser.parse_args()
    lists = arguments.lists or [SOURCE_DIR / "data/easylist.txt",
                                SOURCE_DIR / "data/easyprivacy.txt"]
    image = engine_image(lists)
    if arguments.scheduler:
        client = Client(arguments.scheduler)
    else:
        client = Client(LocalCluster(n_workers=arguments.workers,
                                     threads_per_worker=1,
                                     dashboard_address=None))
    with client:
        for url, blocked in classify(client, arguments.requests, image,
                                     arguments.blocksize):
            print("block" if blocked else "allow", url, sep="\t")


if __name__ == "__main__":
    main()
