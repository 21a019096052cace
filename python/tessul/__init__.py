"""tessul: a URL filter engine for ad- and tracker-blocking filter lists.

    import tessul
    engine = tessul.Engine()
    engine.parse_file("easylist.txt")
    engine.match("https://ads.example/x.js", type="script", page="news.example")
    engine.check_many([(url, "image", "news.example"), ...])

Engines pickle as their engine image, so they travel to worker processes;
``Engine.to_image()`` and ``Engine.from_image()`` do the same by hand.
"""

from ._tessul import REQUEST_TYPES, Engine, Match, __version__

__all__ = ["Engine", "Match", "REQUEST_TYPES", "__version__"]
