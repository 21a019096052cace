"""One engine shared by several Python threads: every call gives the answer
it gives alone, while other threads match, hide, parse and save images."""

import threading

import tessul
from conftest import BUNDLED_LISTS

ROUNDS = 8


def test_threads_share_one_engine(pageloads):
    engine = tessul.Engine()  # its own: the test adds rules to it
    for path in BUNDLED_LISTS:
        engine.parse_file(path)
    expected_blocked = engine.check_many(pageloads)
    expected_matches = [engine.match(*request) for request in pageloads[:200]]
    expected_selectors = engine.hiding_selectors("www.youtube.com")
    # A list parsed again adds copies of its rules, which decide alike; its
    # arrays are made anew meanwhile.
    again = BUNDLED_LISTS[1].read_text(encoding="utf-8")
    extra_list = "||only-in-the-extra-list.example^\n"
    failures = []

    def batch_matcher():
        for _ in range(ROUNDS):
            if engine.check_many(pageloads) != expected_blocked:
                failures.append("check_many")

    def single_matcher():
        for _ in range(ROUNDS):
            for request, expected in zip(pageloads, expected_matches):
                match = engine.match(*request)
                if (match.blocked, match.rule, match.exception) != (
                        expected.blocked, expected.rule, expected.exception):
                    failures.append(request)

    def hider():
        for _ in range(ROUNDS * 4):
            if engine.hiding_selectors("www.youtube.com") != expected_selectors:
                failures.append("hiding_selectors")

    def changer():
        # Rules again, a rule no request meets, and images of the engine as
        # it grows: none changes an answer.
        for _ in range(ROUNDS):
            engine.parse(again)
            engine.parse(extra_list)
            tessul.Engine.from_image(engine.to_image())

    threads = [threading.Thread(target=target) for target in
               [batch_matcher, single_matcher, hider, changer]]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    assert failures == []
    assert engine.matches("https://only-in-the-extra-list.example/")
