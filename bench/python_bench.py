"""check_many's rate against the C++ engine's, measured in one run.

    PYTHONPATH=build/python python3 bench/python_bench.py [--program build/cli/tessul] [--copies 20] [--runs 15]

Both sides check the request logs of data/ (pageloads.tsv, peer-dev.tsv),
repeated --copies times, against the bundled lists. The C++ figure is the
matching time that `tessul check --requests` reports (its engine calls
alone); the Python figure is the whole check_many() call, converting the
requests included. Runs alternate, and the best of --runs of each is kept,
since the machine's speed drifts.
"""

import argparse
import pathlib
import re
import subprocess
import tempfile
import time

import tessul

SOURCE_DIR = pathlib.Path(__file__).resolve().parents[1]
DATA_DIR = SOURCE_DIR / "data"
LOGS = ["pageloads.tsv", "peer-dev.tsv"]


def log_lines():
    lines = []
    for name in LOGS:
        for line in (DATA_DIR / name).read_text(encoding="utf-8").splitlines():
            if line and not line.startswith("#"):
                lines.append(line)
    return lines


def as_request(line):
    url, kind, page = (line.split("\t") + ["", ""])[:3]
    return (url, kind or None, page or None)


def program_seconds(program, requests_path):
    run = subprocess.run([program, "check", "--requests", requests_path],
                         check=True, stdout=subprocess.DEVNULL,
                         stderr=subprocess.PIPE, text=True)
    milliseconds = re.search(r"matching took ([0-9.]+) ms", run.stderr)
    return float(milliseconds.group(1)) / 1000


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--program", default=str(SOURCE_DIR / "build/cli/tessul"))
    parser.add_argument("--copies", type=int, default=20)
    parser.add_argument("--runs", type=int, default=15)
    arguments = parser.parse_args()

    lines = log_lines() * arguments.copies
    requests = [as_request(line) for line in lines]
    engine = tessul.Engine()
    for name in ("easylist.txt", "easyprivacy.txt"):
        engine.parse_file(DATA_DIR / name)
    engine.check_many(requests)  # warm-up

    with tempfile.NamedTemporaryFile("w", suffix=".tsv") as requests_file:
        requests_file.write("\n".join(lines) + "\n")
        requests_file.flush()
        program_best = python_best = float("inf")
        for _ in range(arguments.runs):
            program_best = min(program_best,
                               program_seconds(arguments.program, requests_file.name))
            start = time.perf_counter()
            engine.check_many(requests)
            python_best = min(python_best, time.perf_counter() - start)

    count = len(requests)
    print(f"{count} requests, best of {arguments.runs} runs each")
    print(f"C++ (tessul check, matching): {program_best * 1e3:8.1f} ms "
          f"{count / program_best / 1e6:6.3f} M requests/s")
    print(f"Python check_many:            {python_best * 1e3:8.1f} ms "
          f"{count / python_best / 1e6:6.3f} M requests/s")
    print(f"check_many's rate is {program_best / python_best:.0%} of the C++ rate")


if __name__ == "__main__":
    main()
