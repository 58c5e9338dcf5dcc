# Each line is a call that the type stubs must report.
import vavirerezi

vavirerezi.mt_xor_bytes(12, 1, 2, 3, 4)  # data not bytes-like
vavirerezi.mt_xor_bytes(b"data", 1.5, 2, 3, 4)  # a float seed
vavirerezi.bf_process(b"data", ["a"] * 14, 1)  # key items without an integer value
vavirerezi.bf_process(b"data", list(range(14)), 1.0)  # a float direction
length: str = vavirerezi.bf_process(b"data", list(range(14)), 1)  # the result is bytes
vavirerezi.mt_xor_bytes(data=b"data", seed0=1, seed1=2, seed2=3, offset=4)  # positional only
vavirerezi.bf_process(b"data", list(range(14)), 1, output=b"read-only")  # output not writable
result: bytes = vavirerezi.mt_xor_bytes(b"data", 1, 2, 3, 4, output=bytearray(4))  # None then
vavirerezi.MtKeyStream(1, 2, 3)  # four seeds and offset
vavirerezi.MtKeyStream(1, 2, 3, 4).position = 5  # read-only
vavirerezi.MtKeyStream(1, 2, 3, 4).skip(1.5)  # a float count
vavirerezi.BfCipher(list(range(14))).encrypt(b"data", bytearray(4))  # output keyword only
vavirerezi.BfCipher(list(range(14)), 1)  # the key alone
vavirerezi.open("masked.bin", "rb", (1, 2, 3))  # seeds keyword only
vavirerezi.open("masked.bin", "rb", seeds=(1, 2))  # three seeds
line: str = vavirerezi.open("masked.bin", key=list(range(14))).readline()  # binary gives bytes
