"""tessul.Engine through its Python interface: answers, rule texts, images,
pickling and the errors for bad input."""

import gc
import pickle

import pytest

import tessul
from conftest import BUNDLED_LISTS, DATA_DIR, run_program

LIST = """\
||ads.example^
@@||ads.example/allowed/$script
/banner/*$image,third-party
||tracker.example^$domain=news.example
||frob.example^$frobnicate
"""

# url, type, page -> blocked, rule, exception
ANSWERS = [
    ("https://ads.example/x.js", "script", "news.example",
     True, "||ads.example^", None),
    ("https://ads.example/allowed/app.js", "script", "news.example",
     False, "||ads.example^", "@@||ads.example/allowed/$script"),
    # The exception is for scripts only.
    ("https://ads.example/allowed/a.png", "image", None,
     True, "||ads.example^", None),
    ("https://cdn.example/banner/1.png", "image", "news.example",
     True, "/banner/*$image,third-party", None),
    ("https://cdn.example/banner/1.png", "script", "news.example",
     False, None, None),
    # The same site makes the request: not third-party.
    ("https://cdn.example/banner/1.png", "image", "cdn.example",
     False, None, None),
    ("https://tracker.example/t", None, "news.example",
     True, "||tracker.example^$domain=news.example", None),
    ("https://tracker.example/t", None, "other.example",
     False, None, None),
    # An empty type, as in request logs, is an unknown one.
    ("https://cdn.example/banner/1.png", "", "news.example",
     False, None, None),
    # The rule with an unknown option was dropped.
    ("https://frob.example/", None, None, False, None, None),
    ("ftp://ads.example/x", None, None, False, None, None),
]


@pytest.fixture(scope="module")
def engine():
    engine = tessul.Engine()
    assert engine.parse(LIST) == [(5, "unrecognised option 'frobnicate'")]
    return engine


@pytest.mark.parametrize("url,kind,page,blocked,rule,exception", ANSWERS)
def test_answers(engine, url, kind, page, blocked, rule, exception):
    match = engine.match(url, type=kind, page=page)
    assert (match.blocked, match.rule, match.exception) == (blocked, rule, exception)
    assert bool(match) == blocked
    assert engine.matches(url, kind, page) == blocked
    assert engine.check_many([(url, kind, page)]) == [blocked]


def test_check_many_takes_any_iterable(engine):
    requests = [(url, kind, page) for url, kind, page, *_ in ANSWERS]
    expected = [answer[3] for answer in ANSWERS]
    assert engine.check_many(requests) == expected
    assert engine.check_many(iter(requests)) == expected
    assert engine.check_many(request for request in requests * 3) == expected * 3
    assert engine.check_many([]) == []
    # Lists of three items, as csv.reader gives them, do as well.
    assert engine.check_many(list(request) for request in requests) == expected


def test_answers_and_rules_are_the_programs(bundled_engine, pageloads,
                                            program_answers):
    assert len(program_answers) == len(pageloads)
    for (url, kind, page), (verdict, _, rule, exception) in zip(
            pageloads, program_answers):
        match = bundled_engine.match(url, kind, page)
        assert (match.blocked, match.rule or "", match.exception or "") == (
            verdict == "block", rule, exception), url
    blocked = [verdict == "block" for verdict, *_ in program_answers]
    assert bundled_engine.check_many(pageloads) == blocked
    assert any(blocked) and not all(blocked)


def test_parse_accepts_bytes_and_appends():
    engine = tessul.Engine()
    engine.parse(b"||one.example^\n")
    engine.parse("||two.example^\n")
    assert engine.check_many([("https://one.example/", None, None),
                              ("https://two.example/", None, None),
                              ("https://three.example/", None, None)]) == [
        True, True, False]


def test_parse_file_reads_paths_of_every_kind(tmp_path):
    path = tmp_path / "list.txt"
    path.write_text("||ads.example^$bogus\n||ads.example^\n")
    for name in (path, str(path), bytes(path)):
        engine = tessul.Engine()
        assert engine.parse_file(name) == [(1, "unrecognised option 'bogus'")]
        assert engine.matches("https://ads.example/")


def test_images_and_pickles_answer_alike(engine):
    image = engine.to_image()
    copies = [tessul.Engine.from_image(image),
              tessul.Engine.from_image(bytearray(image)),
              tessul.Engine.from_image(memoryview(image)),
              pickle.loads(pickle.dumps(engine))]
    for copy in copies:
        assert copy.to_image() == image
        for url, kind, page, blocked, rule, exception in ANSWERS:
            match = copy.match(url, kind, page)
            # An image keeps no lines: rules are written from their fields,
            # which give these lines again.
            assert (match.blocked, match.rule, match.exception) == (
                blocked, rule, exception)


def test_image_is_the_programs(bundled_engine, tmp_path):
    path = tmp_path / "lists.img"
    run_program("compile", "--keep-cosmetic", "-o", str(path),
                *(arg for list_path in BUNDLED_LISTS
                  for arg in ("--list", str(list_path))))
    assert bundled_engine.to_image() == path.read_bytes()


def test_loaded_engine_keeps_its_own_image(engine):
    # Loaded rules point into the image: the engine keeps a copy, whatever
    # becomes of the caller's bytes.
    data = bytearray(engine.to_image())
    copy = tessul.Engine.from_image(data)
    data[:] = b"\0" * len(data)
    del data
    gc.collect()
    match = copy.match("https://ads.example/allowed/x.js", "script")
    assert match.exception == "@@||ads.example/allowed/$script"


@pytest.mark.parametrize("call,error,message", [
    (lambda e: e.match("https://a.example/", "scripts"), ValueError,
     "unknown request type 'scripts'; known types: script, image"),
    (lambda e: e.matches("https://a.example/", "Script"), ValueError,
     "unknown request type 'Script'"),
    (lambda e: e.check_many([("https://a.example/", "script", None),
                             ("https://a.example/", "stylesh", None)]),
     ValueError, "unknown request type 'stylesh'"),
    (lambda e: e.matches("https://a.example/\0x"), ValueError,
     "a URL holds a NUL byte at offset 18"),
    (lambda e: e.check_many([("https://a.example/", None, "a\0b")]),
     ValueError, "a page holds a NUL byte"),
    (lambda e: e.parse("||a.example^\n\0||b.example^\n"), ValueError,
     "the list holds a NUL byte at offset 13"),
    (lambda e: e.check_many([("https://a.example/", None)]), TypeError,
     "each request must be a tuple (url, type, page), not one of 2 items"),
    (lambda e: e.check_many(["https://a.example/"]), TypeError,
     "each request must be a tuple"),
    (lambda e: e.check_many([(b"https://a.example/", None, None)]), TypeError,
     "a URL must be a str, not bytes"),
    (lambda e: e.check_many([("https://a.example/", 3, None)]), TypeError,
     "a request type must be a str, not int"),
])
def test_bad_requests_raise(engine, call, error, message):
    with pytest.raises(error) as raised:
        call(engine)
    assert message in str(raised.value)


def test_every_request_type_is_known(engine):
    assert tessul.REQUEST_TYPES[:3] == ("script", "image", "stylesheet")
    requests = [("https://ads.example/x", kind, None)
                for kind in tessul.REQUEST_TYPES]
    # Blocked as any kind but a page itself, which ||host^ does not block.
    assert engine.check_many(requests) == [
        kind != "document" for kind in tessul.REQUEST_TYPES]


@pytest.mark.parametrize("name,error", [
    ("missing.txt", FileNotFoundError),
    (".", IsADirectoryError),
])
def test_unreadable_files_raise_oserror(tmp_path, name, error):
    engine = tessul.Engine()
    with pytest.raises(error) as raised:
        engine.parse_file(tmp_path / name)
    assert raised.value.filename == tmp_path / name
    assert engine.to_image() == tessul.Engine().to_image()


@pytest.mark.parametrize("damage,reason", [
    (lambda image: b"", "damaged engine image: "),
    (lambda image: image[:len(image) // 2], "damaged engine image: "),
    (lambda image: image + b"x", "damaged engine image: "),
    (lambda image: b"garbage", "damaged engine image: header"),
])
def test_damaged_images_raise_valueerror(engine, damage, reason):
    with pytest.raises(ValueError) as raised:
        tessul.Engine.from_image(damage(engine.to_image()))
    assert str(raised.value).startswith(reason)
    assert len(str(raised.value)) > len(reason)


HIDING_LIST = """\
##.ad
example.com##.banner
~shop.example.com,example.com##.sidebar
shop.example.com#@#.banner
##.ad
"""


@pytest.mark.parametrize("page,specific,selectors", [
    ("https://news.example.com/a", False, [".ad", ".banner", ".sidebar"]),
    ("news.example.com", True, [".banner", ".sidebar"]),
    # The exception cancels .banner there; .sidebar excludes the shop.
    ("https://shop.example.com/", False, [".ad"]),
    ("shop.example.com", True, []),
    ("https://other.example/", False, [".ad"]),
])
def test_hiding_selectors(page, specific, selectors):
    engine = tessul.Engine()
    engine.parse(HIDING_LIST)
    assert engine.hiding_selectors(page, specific=specific) == selectors
    copy = tessul.Engine.from_image(engine.to_image())
    assert copy.hiding_selectors(page, specific) == selectors


@pytest.mark.parametrize("page", ["www.youtube.com", "https://news.yahoo.com/x"])
@pytest.mark.parametrize("specific", [False, True])
def test_hiding_selectors_are_the_programs(bundled_engine, page, specific):
    output = run_program("hide", "--page", page, *["--specific"] * specific)
    assert bundled_engine.hiding_selectors(page, specific) == output.splitlines()


def test_version_is_the_programs():
    assert run_program("--version") == f"tessul {tessul.__version__}\n"


def test_compatible_mode_answers_as_the_programs(pageloads):
    engine = tessul.Engine(compatible=True)
    assert engine.compatible and not tessul.Engine().compatible
    for path in BUNDLED_LISTS:
        engine.parse_file(path)
    output = run_program("check", "--compatible", "--requests",
                         str(DATA_DIR / "pageloads.tsv"))
    expected = [line.split("\t")[0] == "block" for line in output.splitlines()]
    assert engine.check_many(pageloads) == expected
    # The image brings its mode.
    for copy in (tessul.Engine.from_image(engine.to_image()),
                 pickle.loads(pickle.dumps(engine))):
        assert copy.compatible
        assert copy.check_many(pageloads) == expected
