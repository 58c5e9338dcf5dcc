# Calls that the type stubs must accept.
import array
import io
import mmap
from typing import Dict, Optional

import vavirerezi

key = list(range(14))
kernels: Dict[str, str] = vavirerezi.kernels()
masked: bytes = vavirerezi.mt_xor_bytes(b"data", 1, 2, 3, 4)
text: bytes = vavirerezi.mt_xor_bytes("text", 1, 2, 3, 4)
enciphered: bytes = vavirerezi.bf_process(bytearray(b"data"), key, 1)
floats: bytes = vavirerezi.bf_process(memoryview(b"data")[1:], [1.5] * 14, True)
arrays: bytes = vavirerezi.bf_process(array.array("B", b"data"), tuple(key), 0)


def mapped(m: mmap.mmap) -> bytes:
    return vavirerezi.mt_xor_bytes(m, 1, 2, 3, 4)


class Key:
    def __len__(self) -> int:
        return 14

    def __getitem__(self, i: int) -> int:
        return i


buffer = bytearray(4)
written: None = vavirerezi.mt_xor_bytes(b"data", 1, 2, 3, 4, output=buffer)
in_place: None = vavirerezi.bf_process(buffer, Key(), 1, output=buffer)
version: str = vavirerezi.__version__


def either(out: Optional[bytearray]) -> Optional[bytes]:
    return vavirerezi.mt_xor_bytes(b"data", 1, 2, 3, 4, output=out)


cipher = vavirerezi.BfCipher(Key())
record: bytes = cipher.decrypt(b"record")
sealed: None = cipher.encrypt(buffer, output=buffer)
stream = vavirerezi.MtKeyStream(1, 2, 3, 4)
piece: bytes = stream.xor(memoryview(buffer)[1:])
stream.skip(5)
position: int = stream.copy().position

with vavirerezi.open("masked.bin", "rb", seeds=(1, 2, 3), offset=4) as opened:
    head: bytes = opened.read(10)
    moved: int = opened.seek(-8, 2)
text_file: io.TextIOWrapper = vavirerezi.open("notes.txt", "wt", key=key, encoding="utf-8")
binary_file: vavirerezi.VavirereziFile = vavirerezi.open(io.BytesIO(), "r+b", key=Key())
