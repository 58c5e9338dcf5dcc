"""The vavirerezi command, run as a user runs it: a subprocess of this
interpreter (`python -m vavirerezi`, behind the emulator that runs this
one), or the installed script that VAVIREREZI_CLI names, its results compared
with the module's."""
import os
import signal
import subprocess
import tempfile
import time
import unittest

import vavirerezi
from compat import PY3, child_interpreter
from support import SAMPLED, read_terminal, ways

COMMAND = os.environ.get("VAVIREREZI_CLI", "").split() or child_interpreter() + [
    "-m", "vavirerezi"]
KEY = [0x01020304 * i & 0xffffffff for i in range(1, 15)]
# The first item negative (the same word modulo 2**32), so that the key
# begins with "-" and must not be taken for an option.
KEY_TEXT = ",".join([str(KEY[0] - 2 ** 32)] + [hex(k) for k in KEY[1:7]]) + " , " + ",".join(
    str(k) for k in KEY[7:])



def run(args, stdin=None, timeout=None, **kw):
    """Runs the command; returns (status, stdout, stderr). One that is still
    running after `timeout` seconds is killed, and the test fails."""
    p = subprocess.Popen(COMMAND + args, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                         stderr=subprocess.PIPE, **kw)
    try:
        out, err = p.communicate(stdin, timeout=timeout)
    except subprocess.TimeoutExpired:
        p.kill()
        p.communicate()
        raise AssertionError("%s did not end in %s seconds" % (args, timeout))
    return p.returncode, out, err.decode("utf-8", "replace")


@unittest.skipUnless(PY3, "the command is Python 3's")
class CommandTest(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp()
        self.key_file = self.path("key.txt")
        with open(self.key_file, "w") as f:
            f.write("  " + KEY_TEXT + "\n")
        # (command, the module's result)
        self.commands = [
            # The offset's leading zeros more than the digits a value may
            # have: they do not count, and the value is exact.
            (["mask", "0x1234", "-0x5", "-1", "0" * 5000 + "620"],
             lambda d: vavirerezi.mt_xor_bytes(d, 0x1234, -5, -1, 620)),
            (["encrypt", "--key", KEY_TEXT], lambda d: vavirerezi.bf_process(d, KEY, 1)),
            (["decrypt", "--key-file", self.key_file], lambda d: vavirerezi.bf_process(d, KEY, 0)),
        ]

    def tearDown(self):
        subprocess.call(["rm", "-rf", self.dir])

    def path(self, name):
        return os.path.join(self.dir, name)

    def write(self, name, data):
        with open(self.path(name), "wb") as f:
            f.write(data)
        return self.path(name)

    def read(self, name):
        with open(self.path(name), "rb") as f:
            return f.read()

    def assertNoTemporaryFiles(self):
        self.assertEqual([n for n in os.listdir(self.dir) if n.endswith(".part")], [])

    def test_files_and_pipes_give_the_modules_bytes(self):
        # Lengths and piece sizes across piece and block boundaries; files,
        # pipes, and the two mixed.
        modes = ["files", "pipes", "stdin to file", "file to stdout"]
        for command, want in self.commands:
            # Threads (--jobs) over many small pieces, and over pieces of
            # more than 8 MiB, past which a thread's key stream seeks.
            for i, (n, chunk, jobs) in enumerate([
                    (0, None, None), (9, "5", "2"), (1000, "13", "3"), (100003, "0x1000", "1"),
                    (100003, "8", "3"), (300001, "0x10000", "2"), (20 << 20, "0x900000", "3")]):
                data = os.urandom(n)
                expected = want(data)
                options = (["--chunk-size", chunk] if chunk else []) + (
                    ["--jobs", jobs] if jobs else [])
                self.write("in", data)
                for mode in ways(i, (modes[i % 4], modes[(i + 1) % 4])):
                    label = (command[0], n, chunk, mode)
                    files = {"files": ["in", "out"], "pipes": [], "stdin to file": ["-", "out"],
                             "file to stdout": ["in"]}[mode]
                    rc, out, err = run(command + options + [self.path(f) if f != "-" else f
                                                            for f in files],
                                       stdin=data if mode in ("pipes", "stdin to file") else b"")
                    self.assertEqual(rc, 0, (label, err))
                    got = self.read("out") if "out" in files else out
                    self.assertEqual(got, expected, label)
                    warning = ("vavirerezi: warning: the final %d bytes cannot be deciphered "
                               "back\n" % (n % 8)) if command[0] == "encrypt" and n % 8 else ""
                    self.assertEqual(err, warning, label)
                    self.assertNoTemporaryFiles()
                    if "out" in files:
                        os.unlink(self.path("out"))

    def test_in_place(self):
        for command, want in self.commands:
            for n in (0, 13, 70001):
                data = os.urandom(n)
                path = self.write("file", data)
                rc, _, err = run(command + ["--in-place", "--chunk-size", "4096", path])
                self.assertEqual((rc, self.read("file")), (0, want(data)), (command[0], n, err))

    def test_in_place_file_truncated_under_it(self):
        # Another process truncates the file once the command has begun
        # writing it back (its first bytes have changed), in pieces small
        # enough that it is still far from the end: one line and status 1,
        # never a SIGBUS.
        data = bytes(16 << 20)
        for command, _ in self.commands[:2]:
            for attempt in range(3):
                path = self.write("file", data)
                p = subprocess.Popen(COMMAND + command + ["--in-place", "--chunk-size", "8", path],
                                     stderr=subprocess.PIPE)
                try:
                    deadline = time.time() + 30
                    fd = os.open(path, os.O_RDONLY)
                    try:
                        while os.pread(fd, 8, 0) == bytes(8) and p.poll() is None:
                            self.assertLess(time.time(), deadline, "the file was not written")
                    finally:
                        os.close(fd)
                    os.truncate(path, 4096)
                    _, err = p.communicate(timeout=60)
                finally:
                    if p.returncode is None:
                        p.kill()
                        p.communicate()
                if p.returncode != 0:  # else it ended before the truncation: again
                    break
            err = err.decode()
            self.assertEqual(p.returncode, 1, (command[0], err))
            self.assertTrue(err.startswith("vavirerezi: error: ") and err.count("\n") == 1, err)
            self.assertIn("changed size", err)

    def test_messages_that_cannot_be_shown_change_nothing(self):
        # Standard error closed, or a device that fails every write: the
        # warning is lost, not the result; an error is still status 1 and a
        # usage error 2.
        data = os.urandom(13)
        self.write("in", data)
        os.mknod(self.path("full"), 0o600 | 0o020000, os.makedev(1, 7))  # as /dev/full
        encrypt = ["encrypt", "--key", KEY_TEXT, self.path("in"), self.path("out")]
        for how in ("closed", "failing"):
            def stderr_fd():
                if how == "closed":
                    os.close(2)
                else:
                    os.dup2(os.open(self.path("full"), os.O_WRONLY), 2)
            for args, status in [(encrypt, 0), (encrypt[:2] + ["1,2"] + encrypt[3:], 1),
                                 (encrypt[:1] + ["--no-such-option"], 2)]:
                rc = subprocess.call(COMMAND + args, preexec_fn=stderr_fd)
                self.assertEqual(rc, status, (how, args))
                self.assertEqual(os.path.exists(self.path("out")) and self.read("out"),
                                 status == 0 and vavirerezi.bf_process(data, KEY, 1), how)
                self.assertNoTemporaryFiles()
                if status == 0:
                    os.unlink(self.path("out"))

    @unittest.skipIf(os.environ.get("VAVIREREZI_CHILD_LAUNCHER") or "asan" in os.environ.get(
        "LD_PRELOAD", ""), "an emulator or a sanitizer needs more address space than the limit")
    def test_memory_follows_the_input_not_the_chunk_size(self):
        # The largest chunk size, a piped input of 100 KB and 1 GiB of
        # address space: the buffers must follow what is read.
        data = os.urandom(100000)

        def limit_memory():
            import resource
            resource.setrlimit(resource.RLIMIT_AS, (1 << 30, 1 << 30))
        for command, want in self.commands:
            rc, out, err = run(command + ["--chunk-size", "0x40000000"], stdin=data,
                               preexec_fn=limit_memory)
            self.assertEqual((rc, out), (0, want(data)), (command[0], err))

    def test_output_that_cannot_be_replaced_is_refused_before_reading(self):
        # In a sticky directory, a file of another user that this one may
        # write but not rename over: refused before the input is read (a FIFO
        # that nobody writes, which would block), as an unprivileged user.
        if os.geteuid() != 0:
            self.skipTest("needs root, to run the command as another user")
        nobody = 65534

        def as_nobody():
            os.setgroups([])
            os.setgid(nobody)
            os.setuid(nobody)
        os.chmod(self.dir, 0o755)
        try:
            usable = subprocess.call(COMMAND + ["--help"], stdout=subprocess.DEVNULL,
                                     stderr=subprocess.DEVNULL, preexec_fn=as_nobody) == 0
        except OSError:  # the interpreter itself
            usable = False
        if not usable:
            self.skipTest("the interpreter or the build tree is not readable by uid %d" % nobody)
        sticky = self.path("sticky")
        os.mkdir(sticky)
        os.chmod(sticky, 0o1777)
        theirs = os.path.join(sticky, "theirs")
        with open(theirs, "wb") as f:
            f.write(b"what was there")
        os.chmod(theirs, 0o666)  # root's, writable by all
        fifo = os.path.join(sticky, "fifo")
        os.mkfifo(fifo, 0o666)
        for command, _ in self.commands[:2]:
            rc, _, err = run(command + [fifo, theirs], preexec_fn=as_nobody, timeout=30)
            self.assertEqual(rc, 1, err)
            self.assertEqual(err, "vavirerezi: error: cannot replace %r: it belongs to another "
                             "user in a sticky directory\n" % theirs)
            self.assertEqual(sorted(os.listdir(sticky)), ["fifo", "theirs"])
            with open(theirs, "rb") as f:
                self.assertEqual(f.read(), b"what was there")

    def test_errors_are_one_line_and_leave_no_partial_output(self):
        data = os.urandom(100000)
        self.write("in", data)
        os.mkdir(self.path("dir"))
        os.mknod(self.path("full"), 0o600 | 0o020000, os.makedev(1, 7))  # as /dev/full
        with open(self.path("binary key"), "wb") as f:
            f.write(b"1," * 13 + b"\xff\n")
        mask = ["mask", "1", "2", "3", "4"]
        limit = 20000

        def file_size_limit():
            import resource
            resource.setrlimit(resource.RLIMIT_FSIZE, (limit, limit))

        def no_threads():
            # A thread's stack is as large as the stack limit at the start,
            # and 64 TiB of it cannot be mapped: no thread can start.
            import resource
            resource.setrlimit(resource.RLIMIT_STACK, (1 << 46, 1 << 46))
        cases = [
            # (what, arguments, words of the message, run in the child first)
            ("missing input", mask + [self.path("nothing"), self.path("out")],
             "No such file", None),
            ("directory as input", mask + [self.path("dir"), self.path("out")], "directory",
             None),
            ("directory as output", mask + [self.path("in"), self.path("dir")], "directory",
             None),
            ("bad seed", ["mask", "1", "2", "0xzz", "4", self.path("in"), self.path("out")],
             "SEED2", None),
            ("13 key items", ["encrypt", "--key", "1," * 12 + "1", self.path("in"),
                              self.path("out")], "14 integers", None),
            ("bad key item", ["decrypt", "--key", "1," * 13 + "0xsecret", self.path("in"),
                              self.path("out")], "item 14", None),
            ("key file not text", ["encrypt", "--key-file", self.path("binary key"),
                                   self.path("in"), self.path("out")], "ASCII", None),
            ("key item too large", ["encrypt", "--key", "1," * 13 + str(2 ** 64),
                                    self.path("in"), self.path("out")], "outside", None),
            ("missing key file", ["encrypt", "--key-file", self.path("nothing"),
                                  self.path("in"), self.path("out")], "key file", None),
            # More digits than any value can have: the interpreter's limit on
            # decimal conversions (4300) must not show as a traceback.
            ("seed of 4301 digits", ["mask", "1", "2", "-" + "1" * 4301, "4", self.path("in"),
                                     self.path("out")], "SEED2", None),
            ("key item of 5000 digits", ["encrypt", "--key", "1," * 13 + "9" * 5000,
                                         self.path("in"), self.path("out")], "item 14", None),
            ("chunk size of 4301 digits", mask + ["--chunk-size", "1" * 4301, self.path("in"),
                                                  self.path("out")], "--chunk-size", None),
            ("chunk size of 4300 hex digits", mask + ["--chunk-size", "0x" + "f" * 4300,
                                                      self.path("in"), self.path("out")],
             "a 17200-bit number", None),
            ("chunk size 0", mask + ["--chunk-size", "0", self.path("in"), self.path("out")],
             "--chunk-size", None),
            ("chunk size 2**40", mask + ["--chunk-size", str(2 ** 40), self.path("in"),
                                         self.path("out")], "--chunk-size", None),
            ("full device", mask + [self.path("in"), self.path("full")], "No space left", None),
            ("file size limit", mask + [self.path("in"), self.path("out")], "File too large",
             file_size_limit),
            ("output is the input", mask + [self.path("in"), self.path("in")], "same file",
             None),
            ("--in-place with OUTPUT", mask + ["--in-place", self.path("in"), self.path("out")],
             "--in-place", None),
            ("jobs 0", mask + ["--jobs", "0", self.path("in"), self.path("out")], "--jobs", None),
            ("jobs 1025", mask + ["--jobs", "1025", self.path("in"), self.path("out")], "--jobs",
             None),
            ("skip -8", mask + ["--skip", "-8", self.path("in"), self.path("out")], "--skip",
             None),
            ("count 2**63", mask + ["--count", str(2 ** 63), self.path("in"), self.path("out")],
             "--count", None),
            ("skip not a number", mask + ["--skip", "1k", self.path("in"), self.path("out")],
             "--skip", None),
        ]
        if not os.environ.get("VAVIREREZI_CHILD_LAUNCHER"):
            # An emulator makes its threads' stacks itself, whatever the limit.
            cases += [
                ("no thread can start", mask + ["--jobs", "3", self.path("in"), self.path("out")],
                 "thread", no_threads),
                ("no writer thread can start", mask + ["--jobs", "1", self.path("in"),
                                                       self.path("out")], "thread", no_threads)]
        for row, (what, args, words, before) in enumerate(cases):
            for existing in ways(row, (False, True)):
                if existing:
                    self.write("out", b"what was there")
                rc, _, err = run(args, preexec_fn=before)
                self.assertEqual(rc, 1, (what, err))
                self.assertTrue(err.startswith("vavirerezi: error: ") and err.count("\n") == 1,
                                (what, err))
                self.assertIn(words, err, what)
                self.assertNotIn("secret", err, what)  # a key's text is not repeated
                self.assertEqual(os.path.exists(self.path("out")) and self.read("out"),
                                 existing and b"what was there", what)
                self.assertEqual(self.read("in"), data, what)
                self.assertNoTemporaryFiles()
                if existing:
                    os.unlink(self.path("out"))

    def test_descriptor_names_write_to_the_descriptor(self):
        # /dev/stdout names the descriptor, which the shell may have opened to
        # append: written to as such, never replaced by a rename.
        data = os.urandom(1000)
        self.write("in", data)
        self.write("log", b"kept\n")
        with open(self.path("log"), "ab") as log:
            rc = subprocess.call(COMMAND + ["mask", "1", "2", "3", "4", self.path("in"),
                                            "/dev/stdout"], stdout=log)
        self.assertEqual((rc, self.read("log")),
                         (0, b"kept\n" + vavirerezi.mt_xor_bytes(data, 1, 2, 3, 4)))

    def test_interrupt_leaves_nothing(self):
        p = subprocess.Popen(COMMAND + ["mask", "1", "2", "3", "4", "-", self.path("out")],
                             stdin=subprocess.PIPE, stderr=subprocess.PIPE)
        started = time.time()
        p.stdin.write(b"x" * 100000)
        p.stdin.flush()
        deadline = time.time() + 30
        while not any(n.endswith(".part") for n in os.listdir(self.dir)):
            self.assertLess(time.time(), deadline, "no temporary file appeared")
            time.sleep(0.001)
        appeared = time.time() - started
        p.send_signal(signal.SIGINT)  # as Ctrl-C
        _, err = p.communicate(timeout=30)
        self.assertEqual((p.returncode, err), (130, b""))
        self.assertEqual(os.listdir(self.dir), ["key.txt"])
        # Each ending signal at many points around the temporary file's
        # creation, from when the tool's module is imported (the
        # interpreter's own start is not the tool's: an interrupt there
        # ends it as the interpreter does) to a while after the file has
        # appeared (the command then waits for input that never comes):
        # whenever it comes, nothing is left, and the command ends as
        # documented, silently.
        # As the installed command starts it.
        code = ("import signal, sys; signal.signal(signal.SIGINT, signal.SIG_DFL); "
                "import vavirerezi._cli as cli; sys.stdout.write('ready\\n'); sys.stdout.flush(); "
                "sys.exit(cli.main(sys.argv[1:]))")
        command = child_interpreter() + ["-c", code, "mask", "1", "2", "3", "4", "-",
                                         self.path("out")]

        def start():
            p = subprocess.Popen(command, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                 stderr=subprocess.PIPE)
            self.assertEqual(p.stdout.readline(), b"ready\n")
            return p, time.perf_counter()
        p, started = start()
        while not any(n.endswith(".part") for n in os.listdir(self.dir)):
            self.assertLess(time.perf_counter(), started + 30, "no temporary file appeared")
        appeared = time.perf_counter() - started
        p.kill()
        p.communicate()
        os.unlink(self.path([n for n in os.listdir(self.dir) if n.endswith(".part")][0]))
        steps = 7 if SAMPLED else 20
        for signum in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP):
            for step in range(steps):
                p, started = start()
                while time.perf_counter() < started + appeared * 1.5 * step / steps:
                    pass  # finer than sleep()
                p.send_signal(signum)
                try:
                    _, err = p.communicate(timeout=30)
                except subprocess.TimeoutExpired:
                    p.kill()
                    p.communicate()
                    self.fail("the command did not end on signal %d" % signum)
                label = (signum, step, err)
                # Killed by the signal itself: it came before main() set
                # the handlers, with nothing made yet.
                self.assertIn((p.returncode, err), [(128 + signum, b""), (-signum, b"")], label)
                self.assertEqual(os.listdir(self.dir), ["key.txt"], label)

    def test_standard_output_closed_early_ends_quietly(self):
        self.write("in", b"\0" * (8 << 20))
        p = subprocess.Popen(COMMAND + ["mask", "1", "2", "3", "4", self.path("in")],
                             stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        self.assertEqual(len(p.stdout.read(10)), 10)
        p.stdout.close()
        err = p.stderr.read()
        p.stderr.close()
        self.assertEqual((p.wait(), err), (141, b""))

    def test_progress_line_on_a_terminal_alone(self):
        import pty
        self.write("in", os.urandom(3 << 20))
        for stdin, words, absent in [(None, ["3.0 MiB / 3.0 MiB 100%", "/s"], None),
                                     (subprocess.PIPE, ["3.0 MiB", "/s"], "%")]:
            master, slave = pty.openpty()
            args = ["mask", "1", "2", "3", "4", "-" if stdin else self.path("in"),
                    self.path("out")]
            p = subprocess.Popen(COMMAND + args, stdin=stdin, stderr=slave)
            os.close(slave)
            if stdin:
                p.stdin.write(self.read("in"))
                p.stdin.close()
            shown = read_terminal(master)
            self.assertEqual(p.wait(), 0)
            text = shown.decode()
            self.assertTrue(text.startswith("\r") and text.endswith("\n"), text)
            for word in words:
                self.assertIn(word, text.splitlines()[-1])
            if absent:
                self.assertNotIn(absent, text)
        # No terminal, or --quiet: nothing is drawn (stderr is a pipe in
        # every other test, where it must be empty).
        master, slave = pty.openpty()
        rc = subprocess.call(COMMAND + ["mask", "--quiet", "1", "2", "3", "4", self.path("in"),
                                        self.path("out")], stderr=slave)
        os.close(slave)
        os.set_blocking(master, False)
        self.assertRaises(OSError, os.read, master, 100)  # nothing to read
        os.close(master)
        self.assertEqual(rc, 0)

    def test_skip_and_count_give_slices_of_one_call(self):
        # A final partial block (1003 = 125 * 8 + 3), ranges that end in it,
        # before it or past the end, and skips at or past the end; a regular
        # file (seeked), a pipe (read through) and a regular file as
        # standard input (seeked from where it stands).
        n = 1003
        data = os.urandom(n)
        path = self.write("in", data)
        ranges = [(0, None), (0, 0), (8, 16), (16, None), (992, None), (992, 8), (1000, None),
                  (1000, 8), (1000, 80), (1008, None), (1008, 8), (4096, 8), (2 ** 40, None),
                  (0, 1000), (504, 496)]
        for command, want in self.commands:
            whole = want(data)
            for row, (skip, count) in enumerate(ranges + ([(3, None), (1001, 1), (7, 5)]
                                                          if command[0] == "mask" else [])):
                for mode in ways(row, ("file", "pipe", "file as stdin")):
                    options = ["--skip", hex(skip) if skip % 3 else str(skip), "--chunk-size",
                               "40", "--jobs", str(1 + skip % 3)]
                    if count is not None:
                        options += ["--count", str(count)]
                    label = (command[0], skip, count, mode)
                    if mode == "file as stdin":
                        with open(path, "rb") as f:
                            p = subprocess.run(COMMAND + command + options, stdin=f,
                                               stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                               timeout=60)
                        rc, out, err = p.returncode, p.stdout, p.stderr.decode()
                    else:
                        rc, out, err = run(command + options + ([path] if mode == "file" else []),
                                           stdin=data if mode == "pipe" else b"", timeout=60)
                    expected = whole[skip:None if count is None else skip + count]
                    self.assertEqual((rc, out), (0, expected), (label, err))
                    ends_partial = command[0] == "encrypt" and skip < n and (
                        count is None or skip + count > n - n % 8)
                    self.assertEqual(err, "vavirerezi: warning: the final 3 bytes cannot be "
                                     "deciphered back\n" if ends_partial else "", label)
        # Into a file, and the end of a sparse file of 3 GiB: the key stream
        # at its position there, the file not read through.
        sparse = self.path("sparse")
        with open(sparse, "wb") as f:
            f.truncate((3 << 30) + 1000)
        skip = (3 << 30) - 20
        keys = vavirerezi.MtKeyStream(0x1234, -5, -1, 620)
        keys.skip(skip)
        expected = keys.xor(bytes(1020))
        started = time.monotonic()
        rc, _, err = run(self.commands[0][0] + ["--skip", str(skip), sparse, self.path("out")],
                         timeout=60)
        self.assertEqual((rc, err, self.read("out")), (0, "", expected))
        self.assertLess(time.monotonic() - started, 20, "the input was read through")
        self.assertNoTemporaryFiles()

    def test_skip_and_count_refused_where_they_cannot_apply(self):
        # Blowfish's ranges are whole blocks; --in-place transforms the
        # whole file. A usage error in one line, status 2, nothing written.
        data = os.urandom(100)
        path = self.write("in", data)
        for command, _ in self.commands:
            cases = [["--in-place", "--skip", "8", path], ["--in-place", "--count", "0", path]]
            if command[0] != "mask":
                cases += [["--skip", "13", path, self.path("out")],
                          ["--count", "7", path, self.path("out")],
                          ["--skip", "8", "--count", "0x11", path, self.path("out")]]
            for options in cases:
                rc, out, err = run(command + options, timeout=60)
                self.assertEqual((rc, out), (2, b""), (command[0], options, err))
                self.assertTrue(err.startswith("vavirerezi %s: error: " % command[0]) and
                                err.count("\n") == 1, err)
                self.assertIn("--in-place" if "--in-place" in options else "multiple of 8", err)
                self.assertEqual(self.read("in"), data)
                self.assertFalse(os.path.exists(self.path("out")))
                self.assertNoTemporaryFiles()

    def test_version_names_the_kernels(self):
        rc, out, err = run(["--version"], timeout=60)
        self.assertEqual((rc, err), (0, ""))
        self.assertEqual(out.decode(), "vavirerezi %s (%s)\n" % (vavirerezi.__version__, ", ".join(
            "%s %s" % item for item in vavirerezi.kernels().items())))
        self.assertIn("keystream", out.decode())

    def test_offsets_from_624_up_are_warned_of(self):
        data = os.urandom(3000)
        for offset, value, shown in [("1000", 1000, "1000"), ("0x3e8", 1000, "1000"),
                                     ("624", 624, "624"), ("-1", -1, "-1"),
                                     (str(2 ** 32 + 700), 2 ** 32 + 700, str(2 ** 32 + 700)),
                                     ("623", 623, None), (str(2 ** 32 + 5), 5, None),
                                     ("0", 0, None)]:
            rc, out, err = run(["mask", "--quiet", "1", "2", "3", offset], stdin=data, timeout=60)
            self.assertEqual((rc, out), (0, vavirerezi.mt_xor_bytes(data, 1, 2, 3, value)), offset)
            warning = ("vavirerezi: warning: OFFSET %s is taken as 624: offsets count generator "
                       "outputs, and from 624 up every offset starts at output 624\n" % shown
                       if shown else "")
            self.assertEqual(err, warning, offset)
        # As the warning says: all offsets from 624 on give the same bytes.
        self.assertEqual(vavirerezi.mt_xor_bytes(data, 1, 2, 3, 1000),
                         vavirerezi.mt_xor_bytes(data, 1, 2, 3, 624))
        rc, out, _ = run(["mask", "--help"], timeout=60)
        self.assertIn(b"outputs the key stream leaves out (not bytes)", b" ".join(out.split()))

    def test_binary_refused_on_a_terminal_without_force(self):
        import pty
        import tty
        data = os.urandom(5000)
        self.write("in", data)
        for command, want in self.commands:
            for force in (False, True):
                for target in ("-", "/dev/stdout", "the terminal's name"):
                    master, slave = pty.openpty()
                    tty.setraw(slave)  # bytes as they are, no newline translation
                    name = os.ttyname(slave)
                    args = command + (["--force"] if force else []) + [self.path("in")]
                    if target != "-":
                        args.append(name if target == "the terminal's name" else target)
                    p = subprocess.Popen(COMMAND + args, stdout=slave, stderr=subprocess.PIPE)
                    os.close(slave)
                    shown = read_terminal(master)
                    err = p.stderr.read().decode()
                    p.stderr.close()
                    label = (command[0], force, target, err)
                    self.assertEqual(p.wait(timeout=60), 0 if force else 1, label)
                    if force:
                        self.assertEqual(shown, want(data), label)
                    else:
                        self.assertEqual(shown, b"", label)
                        self.assertEqual(err, "vavirerezi: error: not writing binary data to a "
                                         "terminal: give --force to write it there anyway\n")

    def test_help_shows_an_example(self):
        for command in ("mask", "encrypt", "decrypt"):
            rc, out, _ = run([command, "--help"])
            self.assertEqual(rc, 0)
            self.assertIn("example: vavirerezi " + command, out.decode())
        self.assertIn(b"cannot be made atomic", b" ".join(run(["mask", "--help"])[1].split()))


if __name__ == "__main__":
    unittest.main()
