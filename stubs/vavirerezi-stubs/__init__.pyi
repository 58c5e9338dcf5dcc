# Types of the vavirerezi extension module's Python 3 build.
from typing import Sequence, SupportsIndex, SupportsInt, Union

from _typeshed import ReadableBuffer

# A str (encoded as UTF-8) or any C-contiguous bytes-like object.
_Data = Union[str, ReadableBuffer]

def mt_xor_bytes(data: _Data, seed0: int, seed1: int, seed2: int, offset: int, /) -> bytes: ...
def bf_process(
    data: _Data, vals14: Sequence[Union[SupportsInt, SupportsIndex]], encrypt: SupportsIndex, /
) -> bytes: ...
