"""vavirerezi.open against the one-shot functions over the whole file."""
import io
import os
import random
import shutil
import subprocess
import tarfile
import tempfile
import unittest
import zipfile

from compat import PY3

if PY3:
    import vavirerezi

KEY = [0x9E3779B9 * (i + 3) & 0xFFFFFFFF for i in range(14)]
SEEDS = (0x12345678, 0x9ABCDEF0, 0x0F1E2D3C)
OFFSET = 7


def masked(plain):
    return vavirerezi.mt_xor_bytes(plain, SEEDS[0], SEEDS[1], SEEDS[2], OFFSET)


def enciphered(plain):
    return vavirerezi.bf_process(plain, KEY, 1)


def read_back(stored, kind):
    """What reading a stored file gives: one call over the whole."""
    if kind == "seeds":
        return masked(stored)
    return vavirerezi.bf_process(stored, KEY, 0)


def kwargs(kind):
    return {"seeds": SEEDS, "offset": OFFSET} if kind == "seeds" else {"key": KEY}


@unittest.skipUnless(PY3, "vavirerezi.open is Python 3 only")
class FileTest(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp()
        self.rng = random.Random(20261211)

    def tearDown(self):
        shutil.rmtree(self.dir)

    def path(self, name="f.bin"):
        return os.path.join(self.dir, name)

    def store(self, data, name="f.bin"):
        with open(self.path(name), "wb") as f:
            f.write(data)
        return self.path(name)

    def stored(self, name="f.bin"):
        with open(self.path(name), "rb") as f:
            return f.read()

    def test_read_modes_equal_one_call(self):
        for kind in ("seeds", "key"):
            for n in (0, 1, 7, 8, 9, 4095, 70001):
                stored = os.urandom(n)
                path = self.store(stored)
                want = read_back(stored, kind)
                for mode in ("rb", "r", "r+b"):
                    with vavirerezi.open(path, mode, **kwargs(kind)) as f:
                        self.assertEqual(f.read(), want, (kind, n, mode))
                        self.assertEqual(f.tell(), n)
                        self.assertEqual(f.read(), b"")
                with vavirerezi.open(path, **kwargs(kind)) as f:
                    got = bytearray()
                    while True:
                        piece = f.read(self.rng.randrange(1, 3000))
                        if not piece:
                            break
                        got += piece
                    self.assertEqual(bytes(got), want, (kind, n))

    def test_readinto_read1_peek_lines(self):
        for kind in ("seeds", "key"):
            plain = b"".join(b"line %d %s\n" % (i, b"x" * (i % 23)) for i in range(3000))
            path = self.store(enciphered(plain) if kind == "key" else masked(plain))
            want = read_back(self.stored(), kind)
            with vavirerezi.open(path, **kwargs(kind)) as f:
                buf = bytearray(1001)
                got = bytearray()
                while True:
                    n = f.readinto(buf)
                    if not n:
                        break
                    got += buf[:n]
                self.assertEqual(bytes(got), want)
            with vavirerezi.open(path, **kwargs(kind)) as f:
                self.assertEqual(list(f), want.splitlines(True))
            with vavirerezi.open(path, **kwargs(kind)) as f:
                f.seek(13)
                self.assertEqual(f.peek(5)[:5], want[13:18])
                self.assertEqual(f.tell(), 13)
                self.assertEqual(f.readline(4), want[13:17])
                self.assertEqual(f.read1(6), want[17:23])
                self.assertEqual(f.readline(), want[23:want.index(b"\n", 23) + 1])

    def test_write_modes_store_one_call(self):
        for kind in ("seeds", "key"):
            to_store = masked if kind == "seeds" else enciphered
            for n in (0, 5, 8, 13, 64, 50001):
                plain = os.urandom(n)
                for mode in ("wb", "w", "xb", "w+b"):
                    if os.path.exists(self.path()):
                        os.remove(self.path())
                    with vavirerezi.open(self.path(), mode, **kwargs(kind)) as f:
                        i = 0
                        while i < n:
                            k = self.rng.randrange(1, 40)
                            self.assertEqual(f.write(plain[i:i + k]), len(plain[i:i + k]))
                            i += k
                    self.assertEqual(self.stored(), to_store(plain), (kind, n, mode))
                # Appending whole blocks to a file of whole blocks.
                head = os.urandom(24)
                self.store(to_store(head))
                with vavirerezi.open(self.path(), "ab", **kwargs(kind)) as f:
                    f.write(plain)
                self.assertEqual(self.stored(), to_store(head + plain), (kind, n, "ab"))

    def test_in_place_writes_and_gaps(self):
        for kind in ("seeds", "key"):
            to_store = masked if kind == "seeds" else enciphered
            plain = bytearray(os.urandom(4000))
            self.store(to_store(bytes(plain)))
            with vavirerezi.open(self.path(), "r+b", **kwargs(kind)) as f:
                for _ in range(50):
                    at = self.rng.randrange(3990)
                    data = os.urandom(self.rng.randrange(1, 10))
                    f.seek(at)
                    f.write(data)
                    plain[at:at + len(data)] = data
                    self.assertEqual(f.tell(), at + len(data))
            self.assertEqual(self.stored(), to_store(bytes(plain)), kind)
            # A gap past the end reads back as zeros: the stored file holds
            # the transform of zeros there.
            with vavirerezi.open(self.path(), "wb", **kwargs(kind)) as f:
                f.write(b"abc")
                f.seek(10003)
                f.write(b"tail")
            self.assertEqual(self.stored(), to_store(b"abc" + bytes(10000) + b"tail"), kind)

    def test_model(self):
        """Random operations on the file object and on a BytesIO of the
        plain data, compared after each step and at close."""
        for kind in ("seeds", "key"):
            to_store = masked if kind == "seeds" else enciphered
            for trial in range(12):
                plain = os.urandom(self.rng.randrange(0, 300)) if trial % 3 else b""
                if kind == "key":
                    plain = plain[:len(plain) & ~7]  # a stored partial block is not writable
                self.store(to_store(plain))
                model = io.BytesIO(plain)
                with vavirerezi.open(self.path(), "r+b", **kwargs(kind)) as f:
                    for step in range(60):
                        op = self.rng.choice(["seek", "seek", "read", "write", "write", "end"])
                        where = (kind, trial, step, op)
                        if op == "seek":
                            to = self.rng.randrange(len(model.getvalue()) + 20)
                            self.assertEqual(f.seek(to), model.seek(to), where)
                        elif op == "end":
                            d = -self.rng.randrange(min(8, len(model.getvalue())) + 1)
                            self.assertEqual(f.seek(d, 2), model.seek(d, 2), where)
                        elif op == "read":
                            k = self.rng.randrange(30)
                            # Reads see the plain bytes but for a final
                            # partial block, which reads as one call gives it.
                            view = read_back(to_store(model.getvalue()), kind)
                            at = model.tell()
                            model.seek(min(at + k, max(at, len(view))))
                            self.assertEqual(f.read(k), view[at:at + k], where)
                        else:
                            data = os.urandom(self.rng.randrange(1, 20))
                            self.assertEqual(f.write(data), model.write(data), where)
                        self.assertEqual(f.tell(), model.tell(), where)
                self.assertEqual(self.stored(), to_store(model.getvalue()), (kind, trial))

    def test_file_objects_and_path_types(self):
        plain = os.urandom(1000)
        raw = io.BytesIO()
        with vavirerezi.open(raw, "wb", seeds=SEEDS, offset=OFFSET) as f:
            f.write(plain)
            self.assertEqual(f.name, "")
        self.assertFalse(raw.closed)  # a caller's file stays open
        self.assertEqual(raw.getvalue(), masked(plain))
        raw.seek(0)
        with vavirerezi.open(raw, seeds=SEEDS, offset=OFFSET) as f:
            self.assertEqual(f.read(), plain)
        import pathlib
        path = self.store(masked(plain))
        for name in (path, path.encode(), pathlib.Path(path)):
            with vavirerezi.open(name, seeds=SEEDS, offset=OFFSET) as f:
                self.assertEqual(f.read(), plain)
                self.assertEqual(f.mode, "rb")
                self.assertEqual(f.fileno(), f.fileno())
                self.assertTrue(f.readable() and f.seekable() and not f.writable())
                self.assertIsInstance(f, io.BufferedIOBase)

    def test_zip_and_tar_through_the_file_object(self):
        members = {"a.txt": b"alpha\n" * 1000, "dir/b.bin": os.urandom(20000)}
        archive = io.BytesIO()
        with zipfile.ZipFile(archive, "w", zipfile.ZIP_DEFLATED) as z:
            for name, data in members.items():
                z.writestr(name, data)
        self.store(masked(archive.getvalue()), "a.zip.m")
        with vavirerezi.open(self.path("a.zip.m"), seeds=SEEDS, offset=OFFSET) as f:
            with zipfile.ZipFile(f) as z:
                self.assertEqual(sorted(z.namelist()), sorted(members))
                for name, data in members.items():
                    self.assertEqual(z.read(name), data)
                self.assertIsNone(z.testzip())
        # A tar archive written through an enciphered file object.
        with vavirerezi.open(self.path("a.tar.bf"), "wb", key=KEY) as f:
            with tarfile.open(fileobj=f, mode="w") as t:
                for name, data in members.items():
                    info = tarfile.TarInfo(name)
                    info.size = len(data)
                    t.addfile(info, io.BytesIO(data))
        plain_tar = vavirerezi.bf_process(self.stored("a.tar.bf"), KEY, 0)
        with tarfile.open(fileobj=io.BytesIO(plain_tar)) as t:
            self.assertEqual(sorted(t.getnames()), sorted(members))
        with vavirerezi.open(self.path("a.tar.bf"), key=KEY) as f:
            with tarfile.open(fileobj=f) as t:
                for name, data in members.items():
                    self.assertEqual(t.extractfile(name).read(), data)

    def test_text_modes(self):
        text = u"caf\u00e9 line\nsecond \u2603\r\nthird"
        for kind in ("seeds", "key"):
            with vavirerezi.open(self.path(), "wt", encoding="utf-8", newline="", **kwargs(kind)) as f:
                self.assertIsInstance(f, io.TextIOWrapper)
                f.write(text)
            want = text.encode("utf-8")
            self.assertEqual(self.stored(), masked(want) if kind == "seeds" else enciphered(want))
            if kind == "seeds":
                with vavirerezi.open(self.path(), "rt", encoding="utf-8", **kwargs(kind)) as f:
                    self.assertEqual(f.read(), text.replace("\r\n", "\n"))
                with vavirerezi.open(self.path(), "at", encoding="utf-8", **kwargs(kind)) as f:
                    f.write(u"!")
                with vavirerezi.open(self.path(), "rt", encoding="utf-8", newline="", **kwargs(kind)) as f:
                    self.assertEqual(f.readlines(), [u"caf\u00e9 line\n", u"second \u2603\r\n", u"third!"])
        with vavirerezi.open(self.path("x.txt"), "xt", encoding="latin-1", key=KEY) as f:
            f.write(u"12345678")
        self.assertEqual(self.stored("x.txt"), enciphered(b"12345678"))

    def test_errors(self):
        path = self.store(masked(b"x" * 100))
        with self.assertRaises(TypeError):
            vavirerezi.open(path)
        with self.assertRaises(ValueError):
            vavirerezi.open(path, seeds=SEEDS, key=KEY)
        with self.assertRaises(TypeError):
            vavirerezi.open(path, seeds=(1, 2, 3.5))
        with self.assertRaises(ValueError):
            vavirerezi.open(path, seeds=(1, 2))
        with self.assertRaises(ValueError):
            vavirerezi.open(path, key=[1] * 13)
        with self.assertRaises(ValueError):
            vavirerezi.open(path, "rb", seeds=SEEDS, encoding="utf-8")
        for mode in ("rw", "rtb", "z", "r+t", "bb"):
            with self.assertRaises(ValueError):
                vavirerezi.open(path, mode, seeds=SEEDS)
        with self.assertRaises(TypeError):
            vavirerezi.open(3.5, seeds=SEEDS)
        # A bad key creates no file.
        with self.assertRaises(ValueError):
            vavirerezi.open(self.path("new"), "xb", key=[1] * 15)
        self.assertFalse(os.path.exists(self.path("new")))
        with vavirerezi.open(path, seeds=SEEDS) as f:
            self.assertRaises(io.UnsupportedOperation, f.write, b"a")
            self.assertRaises(TypeError, f.read, "3")
        with vavirerezi.open(self.path("w"), "wb", seeds=SEEDS) as f:
            self.assertRaises(io.UnsupportedOperation, f.read)
            self.assertRaises(TypeError, f.write, u"text")
            self.assertRaises(ValueError, f.seek, -1)
            # Past the largest file offset, refused at once, as a plain file refuses it.
            self.assertRaises(OverflowError, f.seek, 2 ** 64)
            self.assertEqual(f.seek(2 ** 63 - 1), 2 ** 63 - 1)  # the largest is taken
            self.assertRaises(OverflowError, f.seek, 1, io.SEEK_CUR)
            self.assertEqual(f.tell(), 2 ** 63 - 1)
            f.seek(0)
            self.assertEqual(f.tell(), 0)
        self.assertEqual(self.stored("w"), b"")
        f = vavirerezi.open(path, seeds=SEEDS)
        f.close()
        f.close()
        self.assertTrue(f.closed)
        for call in (f.read, f.tell, f.readline, f.fileno, f.flush, f.readable, lambda: f.seek(0)):
            self.assertRaises(ValueError, call)

    def test_stored_partial_block_refused(self):
        plain = os.urandom(21)  # two whole blocks and five bytes
        self.store(enciphered(plain))
        for mode, at, data in (("ab", 0, b"more"), ("r+b", 17, b"z"), ("r+b", 14, b"abc"),
                               ("r+b", 40, b"z")):
            with vavirerezi.open(self.path(), mode, key=KEY) as f:
                f.seek(at)
                with self.assertRaises(io.UnsupportedOperation) as caught:
                    f.write(data)
                self.assertIsInstance(caught.exception, ValueError)
                self.assertIn("partial final block", str(caught.exception))
                self.assertEqual(f.tell(), at, (mode, at))  # a refusal moves nothing
            self.assertEqual(self.stored(), enciphered(plain), (mode, at))  # nothing written
        # Whole blocks before it stay writable.
        with vavirerezi.open(self.path(), "r+b", key=KEY) as f:
            f.seek(3)
            f.write(b"0123456789abc")
        self.assertEqual(self.stored(), enciphered(plain[:3] + b"0123456789abc" + plain[16:]))

    def test_key_stream_far_into_a_sparse_file(self):
        with open(self.path(), "wb") as f:
            f.truncate(3 * 10 ** 9 + 1000)
        at = 3 * 10 ** 9 + 3
        stream = vavirerezi.MtKeyStream(SEEDS[0], SEEDS[1], SEEDS[2], OFFSET)
        stream.seek(at)
        want = stream.xor(bytes(500))
        with vavirerezi.open(self.path(), seeds=SEEDS, offset=OFFSET) as f:
            f.seek(at)
            self.assertEqual(f.read(500), want)
            f.seek(5)
            self.assertEqual(f.read(10), masked(bytes(15))[5:])

    def test_dask_example(self):
        """examples/dask_unmask.py on a LocalCluster of two worker
        processes, under the interpreter that has dask and distributed."""
        python = os.environ.get("VAVIREREZI_DASK_PYTHON", "/usr/bin/python3")
        try:
            probe = subprocess.run([python, "-c", "import dask, distributed"], timeout=60,
                                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        except (OSError, subprocess.TimeoutExpired):
            self.skipTest("no %s to run dask under" % python)
        if probe.returncode:
            self.skipTest("dask and distributed cannot be imported by %s" % python)
        package = os.path.dirname(os.path.dirname(os.path.abspath(vavirerezi.__file__)))
        env = dict(os.environ, PYTHONPATH=package)
        check = subprocess.run([python, "-c", "import vavirerezi"], env=env, timeout=60,
                               stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        if check.returncode:
            self.skipTest("this build does not import under %s: %s" % (python, check.stderr[-200:]))
        examples = os.environ.get("VAVIREREZI_EXAMPLES") or os.path.join(
            os.path.dirname(os.path.abspath(__file__)), "..", "..", "examples")
        example = os.path.join(examples, "dask_unmask.py")
        if not os.path.exists(example):
            self.skipTest("no %s here (VAVIREREZI_EXAMPLES names the folder)" % example)
        for kind, extra in (("seeds", ["--seeds", "%d,%d,%d" % SEEDS, "--offset", str(OFFSET)]),
                            ("key", ["--key", ",".join(str(k) for k in KEY)])):
            stored = os.urandom(24 * 2 ** 20 + 5)
            self.store(stored, "in")
            out = self.path("out")
            result = subprocess.run(
                [python, example, self.path("in"), out, "--workers", "2",
                 "--range", str(3 * 2 ** 20 + 1)] + extra,
                env=env, timeout=300, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
            self.assertEqual(result.returncode, 0, result.stderr[-2000:])
            self.assertTrue(self.stored("out") == read_back(stored, kind), kind)


if __name__ == "__main__":
    unittest.main()
