"""One engine shared by several Python threads: every call gives the answer
it gives alone, while other threads match, parse and save images."""

import threading

import tessul
from conftest import BUNDLED_LISTS

THREADS = 4
ROUNDS = 8


def test_threads_share_one_engine(bundled_engine, pageloads):
    expected_blocked = bundled_engine.check_many(pageloads)
    expected_matches = [bundled_engine.match(*request) for request in pageloads[:200]]
    # A list parsed again adds copies of its rules, which decide alike; its
    # arrays are made anew meanwhile.
    again = BUNDLED_LISTS[1].read_text(encoding="utf-8")
    extra_list = "||only-in-the-extra-list.example^\n"
    failures = []

    def batch_matcher():
        for _ in range(ROUNDS):
            if bundled_engine.check_many(pageloads) != expected_blocked:
                failures.append("check_many")

    def single_matcher():
        for _ in range(ROUNDS):
            for request, expected in zip(pageloads, expected_matches):
                match = bundled_engine.match(*request)
                if (match.blocked, match.rule, match.exception) != (
                        expected.blocked, expected.rule, expected.exception):
                    failures.append(request)

    def changer():
        # Rules again, a rule no request meets, and images of the engine as
        # it grows: none changes an answer.
        for _ in range(ROUNDS):
            bundled_engine.parse(again)
            bundled_engine.parse(extra_list)
            tessul.Engine.from_image(bundled_engine.to_image())

    threads = [threading.Thread(target=target) for target in
               [batch_matcher, single_matcher, changer] +
               [batch_matcher] * (THREADS - 3)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    assert failures == []
    assert bundled_engine.matches("https://only-in-the-extra-list.example/")
