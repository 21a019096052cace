from os import PathLike
from typing import Iterable, Optional, Sequence, Union

__version__: str
REQUEST_TYPES: tuple[str, ...]

class Match:
    """The answer for one request: whether it is blocked and the rules that
    decided, as lines of their lists."""

    @property
    def blocked(self) -> bool: ...
    @property
    def rule(self) -> Optional[str]: ...
    @property
    def exception(self) -> Optional[str]: ...
    def __bool__(self) -> bool: ...

class Engine:
    """A filter engine. One engine may be used from several threads; engines
    pickle as their image."""

    def __init__(self) -> None: ...
    def parse(self, text: Union[str, bytes]) -> list[tuple[int, str]]: ...
    def parse_file(
        self, path: Union[str, bytes, PathLike[str], PathLike[bytes]]
    ) -> list[tuple[int, str]]: ...
    def match(
        self, url: str, type: Optional[str] = None, page: Optional[str] = None
    ) -> Match: ...
    def matches(
        self, url: str, type: Optional[str] = None, page: Optional[str] = None
    ) -> bool: ...
    def check_many(
        self,
        requests: Iterable[
            Union[tuple[str, Optional[str], Optional[str]], Sequence[Optional[str]]]
        ],
    ) -> list[bool]: ...
    def to_image(self) -> bytes: ...
    @staticmethod
    def from_image(data: Union[bytes, bytearray, memoryview]) -> Engine: ...
