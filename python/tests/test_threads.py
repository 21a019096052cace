"""One engine shared by several Python threads: every call gives the answer
it gives alone, while other threads match, parse and save images."""

import threading

import tessul

THREADS = 4
ROUNDS = 5


def test_threads_share_one_engine(bundled_engine, pageloads):
    expected_blocked = bundled_engine.check_many(pageloads)
    expected_matches = [bundled_engine.match(*request) for request in pageloads[:200]]
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
        # A rule no request meets, and images of the engine as it grows:
        # neither changes an answer.
        for _ in range(ROUNDS):
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
