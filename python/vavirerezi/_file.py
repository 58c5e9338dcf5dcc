"""File objects over masked and enciphered files: vavirerezi.open.

A masked file (seeds=) holds mt_xor_bytes(plain, s0, s1, s2, offset) and an
enciphered one (key=) bf_process(plain, key, 1); the file object reads and
writes the plain bytes at any position, as one call over the whole file
would give them, without reading the whole file.
"""
import builtins
import io
import operator
import os

from ._core import BfCipher, MtKeyStream

__all__ = ["VavirereziFile", "open"]

_CHUNK = 1 << 20          # gaps are written in pieces of this size
_LINE_CHUNK = 8192        # read ahead by readline and peek
_BINARY_MODES = {"r": "rb", "w": "w+b", "a": "a+b", "x": "x+b",
                 "r+": "r+b", "w+": "w+b", "x+": "x+b"}


def _closed_error():
    return ValueError("I/O operation on closed file.")


# The largest offset a file has (off_t, signed 64-bit).
_MAX_POSITION = 2 ** 63 - 1

def _raw_readinto(raw, view):
    """raw.readinto(view), read and copied where the file refuses the view
    (PyPy's files take no memoryview of a cast or a slice)."""
    try:
        return raw.readinto(view) or 0
    except TypeError:
        data = raw.read(len(view)) or b""
        view[:len(data)] = data
        return len(data)


class VavirereziFile(io.BufferedIOBase):
    """The plain bytes of a masked (seeds=) or enciphered (key=) file.

    Byte j read from the file object is byte j of mt_xor_bytes(whole, s0,
    s1, s2, offset), or of bf_process(whole, key, 0), where whole is the
    whole file as stored; what is written is stored as one such call over
    the whole plain data would store it.

    Enciphered files go in 8-byte blocks. A final block of r < 8 bytes is
    stored as bf_process stores it, zero-filled, enciphered and cut back to
    r bytes, so reading it back gives what bf_process(whole, key, 0) gives,
    not the plain bytes written. Such a block is kept in memory until
    close() (flush() writes every whole block), and one already stored
    cannot be written into or appended to: io.UnsupportedOperation (a
    ValueError) is raised and nothing is written.
    """

    __module__ = "vavirerezi"  # shown as the package's, as its other types

    def __init__(self, file, mode="rb", *, seeds=None, offset=0, key=None):
        self._raw = None
        if seeds is None and key is None:
            raise TypeError("open() needs seeds=(seed0, seed1, seed2) or key=vals14")
        if seeds is not None and key is not None:
            raise ValueError("open() takes seeds= or key=, not both")
        if not isinstance(mode, str):
            raise TypeError("mode must be a str, not %s" % type(mode).__name__)
        base = mode.replace("b", "", 1) if mode.count("b") == 1 else mode
        if base not in _BINARY_MODES or "t" in mode:
            raise ValueError("Invalid mode: %r" % (mode,))
        # Made before the file is opened: bad seeds or keys create no file.
        self._stream = self._cipher = None
        if key is not None:
            if offset != 0:
                raise ValueError("offset= goes with seeds=, not key=")
            self._cipher = BfCipher(key)
        else:
            s0, s1, s2 = seeds
            self._stream = MtKeyStream(s0, s1, s2, offset)
        self._kpos = 0                     # position of the key stream
        self._readable = base[0] == "r" or "+" in base
        self._writable = base[0] != "r" or "+" in base
        self._append = base[0] == "a"
        self.mode = base[0] + ("+b" if "+" in base else "b")

        self._raw = None
        if isinstance(file, (str, bytes, os.PathLike)):
            raw = builtins.open(file, _BINARY_MODES[base], buffering=0)
            self.name = raw.name
            self._own = True
        elif hasattr(file, "read") or hasattr(file, "write"):
            raw = file
            self.name = getattr(file, "name", "")
            self._own = False
        else:
            raise TypeError("file must be a str, bytes or os.PathLike object, or a file object")
        try:
            self._seekable = bool(raw.seekable())
            if self._seekable:
                self._pos = raw.tell()
                self._size = raw.seek(0, io.SEEK_END)
                raw.seek(self._pos)
            else:
                self._pos = self._size = 0
        except BaseException:
            if self._own:
                raw.close()
            raise
        self._raw = raw
        self._raw_pos = self._pos
        self._ahead = b""      # plain bytes from self._pos on, read ahead
        # An enciphered file's final partial block, plain, not yet stored:
        # bytes self._tail_at .. self._tail_at + len(self._tail).
        self._tail = b""
        self._tail_at = 0

    # -- state ------------------------------------------------------------

    @property
    def closed(self):
        return self._raw is None

    def _check_open(self):
        if self._raw is None:
            raise _closed_error()

    def readable(self):
        self._check_open()
        return self._readable

    def writable(self):
        self._check_open()
        return self._writable

    def seekable(self):
        self._check_open()
        return self._seekable

    def fileno(self):
        self._check_open()
        return self._raw.fileno()

    def _check_read(self):
        if self._raw is None:
            raise _closed_error()
        if not self._readable:
            raise io.UnsupportedOperation("File not open for reading")

    def _check_write(self):
        if self._raw is None:
            raise _closed_error()
        if not self._writable:
            raise io.UnsupportedOperation("File not open for writing")

    def _logical_size(self):
        if self._tail:
            return self._tail_at + len(self._tail)
        return self._size

    def _raw_seek(self, pos):
        if self._raw_pos != pos:
            self._raw.seek(pos)
            self._raw_pos = pos

    def _drop_ahead(self):
        self._ahead = b""

    def _stream_at(self, pos):
        """The key stream, moved to byte `pos` of the file."""
        stream = self._stream
        if self._kpos != pos:
            stream.seek(pos)    # steps for short moves forward, jumps otherwise
            self._kpos = pos
        return stream

    # -- reading ----------------------------------------------------------

    def _raw_read(self, n):
        """Up to n stored bytes from the raw position, fewer only at EOF."""
        data = self._raw.read(n)
        if data is None:
            data = b""
        if 0 < len(data) < n:
            parts = [data]
            got = len(data)
            while got < n:
                more = self._raw.read(n - got)
                if not more:
                    break
                parts.append(more)
                got += len(more)
            data = b"".join(parts)
        self._raw_pos += len(data)
        return data

    def _decode(self, n):
        """Up to n plain bytes at self._pos, read from the file (self._ahead
        empty); advances the position. Empty only at the end of the file."""
        pos = self._pos
        if self._stream is not None:
            self._raw_seek(pos)
            data = self._raw_read(n)
            out = self._stream_at(pos).xor(data)
            self._kpos += len(out)
            self._pos += len(out)
            return out
        if self._tail:
            if pos >= self._tail_at:
                # What the block will read back as once stored.
                c = self._cipher
                block = c.decrypt(c.encrypt(self._tail))
                out = block[pos - self._tail_at:pos - self._tail_at + n]
                self._pos += len(out)
                return out
            n = min(n, self._tail_at - pos)
        start = pos & ~7
        self._raw_seek(start)
        data = self._raw_read((pos + n + 7 & ~7) - start)
        plain = self._cipher.decrypt(data)
        out = plain[pos - start:pos - start + n]
        self._ahead = plain[pos - start + len(out):]
        self._pos += len(out)
        return out

    def _read_size(self, size):
        """A read's size argument, as io takes it (None or negative: all),
        once reading is allowed."""
        self._check_read()
        return -1 if size is None else operator.index(size)

    def _take_ahead(self, n):
        ahead = self._ahead
        if n < 0 or n >= len(ahead):
            self._ahead = b""
        else:
            ahead, self._ahead = ahead[:n], ahead[n:]
        self._pos += len(ahead)
        return ahead

    def read(self, size=-1):
        size = self._read_size(size)
        parts = []
        if self._ahead:
            parts.append(self._take_ahead(size))
            if size >= 0:
                size -= len(parts[0])
        while size != 0:
            piece = self._decode(size if size > 0 else _CHUNK)
            if not piece:
                break
            parts.append(piece)
            if size > 0:
                size -= len(piece)
        return b"".join(parts)

    def read1(self, size=-1):
        self._check_read()
        if size is None or size < 0:
            size = _LINE_CHUNK
        if self._ahead:
            return self._take_ahead(size)
        return self._decode(size) if size else b""

    def readinto(self, b):
        self._check_read()
        with memoryview(b) as view, view.cast("B") as out:
            n = len(out)
            done = 0
            if self._ahead:
                piece = self._take_ahead(n)
                done = len(piece)
                out[:done] = piece
            if done < n and self._stream is not None:
                # Straight into the caller's buffer, unmasked there.
                pos = self._pos
                self._raw_seek(pos)
                rest = out[done:]
                got = _raw_readinto(self._raw, rest)
                while 0 < got < len(rest):
                    more = _raw_readinto(self._raw, rest[got:])
                    if not more:
                        break
                    got += more
                self._raw_pos += got
                if got:
                    piece = rest[:got]
                    self._stream_at(pos).xor(piece, output=piece)
                    self._kpos += got
                    self._pos += got
                done += got
            while done < n:
                piece = self._decode(n - done)
                if not piece:
                    break
                out[done:done + len(piece)] = piece
                done += len(piece)
            return done

    def readinto1(self, b):
        return self.readinto(b)

    def peek(self, size=0):
        self._check_read()
        if not self._ahead:
            pos = self._pos
            piece = self._decode(_LINE_CHUNK)
            self._ahead = piece + self._ahead
            self._pos = pos
        return self._ahead

    def readline(self, size=-1):
        size = self._read_size(size)
        parts = []
        total = 0
        while size < 0 or total < size:
            ahead = self.peek()
            if not ahead:
                break
            limit = len(ahead) if size < 0 else min(len(ahead), size - total)
            end = ahead.find(b"\n", 0, limit)
            piece = self._take_ahead(end + 1 if end >= 0 else limit)
            parts.append(piece)
            total += len(piece)
            if end >= 0:
                break
        return b"".join(parts)

    # -- positioning ------------------------------------------------------

    def tell(self):
        self._check_open()
        return self._pos

    def seek(self, offset, whence=io.SEEK_SET):
        self._check_open()
        if not self._seekable:
            raise io.UnsupportedOperation("underlying stream is not seekable")
        offset = operator.index(offset)
        if whence == io.SEEK_SET:
            pos = offset
        elif whence == io.SEEK_CUR:
            pos = self._pos + offset
        elif whence == io.SEEK_END:
            if self._stream is not None:
                self._size = self._raw.seek(0, io.SEEK_END)
                self._raw_pos = self._size
            pos = self._logical_size() + offset
        else:
            raise ValueError("invalid whence (%r, should be 0, 1 or 2)" % (whence,))
        if pos < 0:
            raise ValueError("negative seek value %d" % pos)
        if pos > _MAX_POSITION:  # as a file's offsets are, signed 64-bit
            raise OverflowError("seek position %d beyond the largest file offset" % pos)
        if pos != self._pos:
            self._drop_ahead()
            self._pos = pos
        return pos

    # -- writing ----------------------------------------------------------

    def _raw_write(self, data):
        view = memoryview(data)
        while view:
            n = self._raw.write(view)
            if n is None:
                raise BlockingIOError(0, "write could not complete without blocking", 0)
            self._raw_pos += n
            view = view[n:]

    def write(self, b):
        self._check_write()
        with memoryview(b) as view, view.cast("B") as data:
            n = len(data)
            if not n:
                return 0
            self._drop_ahead()
            before = self._pos
            if self._append:
                self._pos = self._logical_size()
            try:
                if self._stream is not None:
                    self._write_masked(data)
                else:
                    self._write_enciphered(data)
            except io.UnsupportedOperation:  # refused before anything was written
                self._pos = before
                raise
            return n

    def _write_masked(self, data):
        pos = self._pos
        if pos > self._size:
            # The gap reads back as zero bytes: it holds the key stream.
            self._raw_seek(self._size)
            zeros = bytes(_CHUNK)
            while self._raw_pos < pos:
                k = min(_CHUNK, pos - self._raw_pos)
                at = self._raw_pos
                self._raw_write(self._stream_at(at).xor(zeros[:k]))
                self._kpos += k
                self._size = self._raw_pos
        masked = self._stream_at(pos).xor(data)
        self._kpos += len(masked)
        self._raw_seek(pos)
        self._raw_write(masked)
        self._pos = pos + len(masked)
        self._size = max(self._size, self._pos)

    def _stored_block(self, at):
        """The plain 8 bytes of the whole stored block at `at`."""
        if not self._readable and not self._raw.readable():
            raise io.UnsupportedOperation(
                "writing part of a stored block needs a readable file")
        self._raw_seek(at)
        return self._cipher.decrypt(self._raw_read(8))

    def _old_block(self, at):
        """Plain bytes of the block at `at` (a multiple of 8) before a write:
        8 for a whole stored block, the pending final block, or none past
        the end."""
        if self._tail and at == self._tail_at:
            return self._tail
        if at + 8 <= self._size:
            return self._stored_block(at)
        return b""

    def _write_enciphered(self, data):
        pos, n = self._pos, len(data)
        end_before = self._logical_size()
        stored_partial = self._size & 7 and not self._tail
        if stored_partial and (pos + n > (self._size & ~7) or pos > end_before):
            raise io.UnsupportedOperation(
                "cannot write into or past the stored partial final block of an "
                "enciphered file (its plain bytes are lost); a write must end by "
                "byte %d" % (self._size & ~7))
        if pos > end_before:
            # A gap: zero plain bytes, enciphered, written from the end on.
            zeros = bytes(_CHUNK)
            self._pos = end_before
            while self._pos < pos:
                self._put_plain(zeros[:min(_CHUNK, pos - self._pos)])
        self._put_plain(data)

    def _put_plain(self, data):
        """Stores plain `data` at self._pos, no further than the end."""
        pos, n = self._pos, len(data)
        end = pos + n
        start = pos & ~7
        stop = end + 7 & ~7
        head = self._old_block(start) if pos & 7 else b""
        last = stop - 8
        tailb = b""
        if end & 7 and (last != start or not pos & 7):
            tailb = self._old_block(last)
        old_end = self._logical_size()
        region = bytearray(head[:pos - start])
        region += data
        if pos & 7 and last == start:
            region += head[end - start:]
        elif tailb:
            region += tailb[end - last:]
        reach = start + len(region)
        whole = len(region) & ~7
        if whole:
            self._raw_seek(start)
            self._raw_write(self._cipher.encrypt(memoryview(region)[:whole]))
            self._size = max(self._size, start + whole)
        if reach >= old_end:
            self._tail = bytes(region[whole:])
            self._tail_at = start + whole
        self._pos = end

    def flush(self):
        self._check_open()
        if self._writable and hasattr(self._raw, "flush"):
            self._raw.flush()

    def close(self):
        raw = self._raw
        if raw is None:
            return
        try:
            if self._tail:
                self._raw_seek(self._tail_at)
                self._raw_write(self._cipher.encrypt(self._tail))
                self._size = self._tail_at + len(self._tail)
                self._tail = b""
            if self._writable and hasattr(raw, "flush"):
                raw.flush()
        finally:
            self._raw = None
            self._stream = self._cipher = None
            self._ahead = b""
            if self._own:
                raw.close()

    def __repr__(self):
        return "<vavirerezi file %r mode %r%s>" % (
            self.name, self.mode, " closed" if self._raw is None else "")


def open(file, mode="rb", *, seeds=None, offset=0, key=None,
         encoding=None, errors=None, newline=None):
    """Opens a masked (seeds=(seed0, seed1, seed2) with offset=, as
    mt_xor_bytes takes them) or enciphered (key=vals14, as bf_process takes
    it) file, in binary or text mode, as gzip.open does.

    file is a path (str, bytes, os.PathLike) or a binary file object. mode is
    "rb", "wb", "ab", "xb", "r+b", "w+b", "x+b" (the "b" may be left out), or
    "rt", "wt", "at", "xt" for text through io.TextIOWrapper with encoding,
    errors and newline. Binary modes give a VavirereziFile.
    """
    if "t" in mode:
        if "b" in mode:
            raise ValueError("Invalid mode: %r" % (mode,))
        if "+" in mode:
            raise ValueError("Invalid mode: %r (no text mode reads and writes)" % (mode,))
    else:
        if encoding is not None:
            raise ValueError("Argument 'encoding' not supported in binary mode")
        if errors is not None:
            raise ValueError("Argument 'errors' not supported in binary mode")
        if newline is not None:
            raise ValueError("Argument 'newline' not supported in binary mode")
    binary = VavirereziFile(file, mode.replace("t", ""), seeds=seeds, offset=offset, key=key)
    if "t" in mode:
        if hasattr(io, "text_encoding"):
            encoding = io.text_encoding(encoding)
        return io.TextIOWrapper(binary, encoding, errors, newline)
    return binary
