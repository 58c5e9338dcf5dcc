# Types of the package's extension, vavirerezi._core, whose names the
# package exports.
from typing import Dict, Optional, Protocol, SupportsIndex, SupportsInt, Union, final, overload

from _typeshed import ReadableBuffer, WriteableBuffer

__version__: str

# Which implementation of each core this CPU runs.
def kernels() -> Dict[str, str]: ...

# A str (encoded as UTF-8) or any C-contiguous bytes-like object.
_Data = Union[str, ReadableBuffer]

# What vals14 must offer: a length and items by index that convert to
# integers (a list, tuple, array, range or any object with these two).
class _Key(Protocol):
    def __len__(self) -> int: ...
    def __getitem__(self, index: int, /) -> Union[SupportsInt, SupportsIndex]: ...

# Without output, the result is returned; with it, written there (None); an
# output that may be either gives either.
@overload
def mt_xor_bytes(
    data: _Data, seed0: int, seed1: int, seed2: int, offset: int, /, *, output: None = None
) -> bytes: ...
@overload
def mt_xor_bytes(
    data: _Data, seed0: int, seed1: int, seed2: int, offset: int, /, *, output: WriteableBuffer
) -> None: ...
@overload
def mt_xor_bytes(
    data: _Data,
    seed0: int,
    seed1: int,
    seed2: int,
    offset: int,
    /,
    *,
    output: Optional[WriteableBuffer] = None,
) -> Optional[bytes]: ...
@overload
def bf_process(data: _Data, vals14: _Key, encrypt: SupportsIndex, /, *, output: None = None) -> bytes: ...
@overload
def bf_process(data: _Data, vals14: _Key, encrypt: SupportsIndex, /, *, output: WriteableBuffer) -> None: ...
@overload
def bf_process(
    data: _Data, vals14: _Key, encrypt: SupportsIndex, /, *, output: Optional[WriteableBuffer] = None
) -> Optional[bytes]: ...

# Blowfish scheduled once: encrypt and decrypt give what bf_process gives.
@final
class BfCipher:
    def __init__(self, vals14: _Key, /) -> None: ...
    @overload
    def encrypt(self, data: _Data, /, *, output: None = None) -> bytes: ...
    @overload
    def encrypt(self, data: _Data, /, *, output: WriteableBuffer) -> None: ...
    @overload
    def encrypt(self, data: _Data, /, *, output: Optional[WriteableBuffer] = None) -> Optional[bytes]: ...
    @overload
    def decrypt(self, data: _Data, /, *, output: None = None) -> bytes: ...
    @overload
    def decrypt(self, data: _Data, /, *, output: WriteableBuffer) -> None: ...
    @overload
    def decrypt(self, data: _Data, /, *, output: Optional[WriteableBuffer] = None) -> Optional[bytes]: ...

# The key stream of mt_xor_bytes, continued from call to call.
@final
class MtKeyStream:
    def __init__(self, seed0: int, seed1: int, seed2: int, offset: int, /) -> None: ...
    @overload
    def xor(self, data: _Data, /, *, output: None = None) -> bytes: ...
    @overload
    def xor(self, data: _Data, /, *, output: WriteableBuffer) -> None: ...
    @overload
    def xor(self, data: _Data, /, *, output: Optional[WriteableBuffer] = None) -> Optional[bytes]: ...
    def skip(self, n: int, /) -> None: ...
    def seek(self, position: int, /) -> None: ...
    def copy(self) -> MtKeyStream: ...
    @property
    def position(self) -> int: ...
