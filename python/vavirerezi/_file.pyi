# Types of vavirerezi.open and its file objects.
import io
import os
from typing import Literal, Optional, Tuple, Union, overload

from _typeshed import ReadableBuffer, WriteableBuffer

from ._core import _Key

_Path = Union[str, bytes, "os.PathLike[str]", "os.PathLike[bytes]"]
_BinaryMode = Literal["rb", "r", "wb", "w", "ab", "a", "xb", "x", "r+b", "r+", "w+b", "w+", "x+b", "x+"]
_TextMode = Literal["rt", "wt", "at", "xt"]
_Seeds = Tuple[int, int, int]

class VavirereziFile(io.BufferedIOBase):
    mode: str
    name: Union[str, bytes, int]
    def __init__(
        self,
        file: Union[_Path, io.IOBase],
        mode: _BinaryMode = ...,
        *,
        seeds: Optional[_Seeds] = ...,
        offset: int = ...,
        key: Optional[_Key] = ...,
    ) -> None: ...
    def read(self, size: Optional[int] = ..., /) -> bytes: ...
    def read1(self, size: int = ..., /) -> bytes: ...
    def readinto(self, b: WriteableBuffer, /) -> int: ...
    def readinto1(self, b: WriteableBuffer, /) -> int: ...
    def peek(self, size: int = ..., /) -> bytes: ...
    def readline(self, size: Optional[int] = ..., /) -> bytes: ...
    def write(self, b: ReadableBuffer, /) -> int: ...
    def seek(self, offset: int, whence: int = ..., /) -> int: ...
    def __enter__(self) -> VavirereziFile: ...

@overload
def open(
    file: Union[_Path, io.IOBase],
    mode: _BinaryMode = ...,
    *,
    seeds: Optional[_Seeds] = ...,
    offset: int = ...,
    key: Optional[_Key] = ...,
    encoding: None = ...,
    errors: None = ...,
    newline: None = ...,
) -> VavirereziFile: ...
@overload
def open(
    file: Union[_Path, io.IOBase],
    mode: _TextMode,
    *,
    seeds: Optional[_Seeds] = ...,
    offset: int = ...,
    key: Optional[_Key] = ...,
    encoding: Optional[str] = ...,
    errors: Optional[str] = ...,
    newline: Optional[str] = ...,
) -> io.TextIOWrapper: ...
