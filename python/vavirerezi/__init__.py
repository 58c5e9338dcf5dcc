"""Byte-string transforms: mt_xor_bytes XORs data with an MT19937 key stream
seeded from three 32-bit words, and bf_process enciphers or deciphers data with
Blowfish in ECB mode under a 56-byte key of 14 integers. Both return bytes of
the data's length, or write them into a caller's buffer (output=). BfCipher
keys Blowfish once for many calls; MtKeyStream is a key stream that continues
from one call to the next. Neither protects new data: MT19937 is no
cryptographic generator, and ECB shows equal blocks as equal.

vavirerezi.open opens a masked or enciphered file as a file object (binary
or text) that reads and writes its plain bytes at any position.

`python -m vavirerezi` (or the `vavirerezi` command) masks, enciphers and
deciphers files and pipes.
"""
from ._core import BfCipher, MtKeyStream, __version__, bf_process, kernels, mt_xor_bytes
from ._file import VavirereziFile, open

__all__ = ["BfCipher", "MtKeyStream", "VavirereziFile", "__version__", "bf_process", "kernels",
           "mt_xor_bytes", "open"]
