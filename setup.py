"""Builds and installs vavirerezi with pip, for Python 2.7 or Python 3.

    python -m pip install --no-build-isolation .

The metadata and version are in setup.cfg; the sources and flags are those of
the CMake build, read from module/sources.txt. Nothing is downloaded: the
build needs only setuptools and a C++17 compiler.
"""
import base64
import hashlib
import os
import shutil
import sys
import sysconfig
import zipfile

from setuptools import Command, Extension, setup
from setuptools.command.build_ext import build_ext

ROOT = os.path.dirname(os.path.abspath(__file__))
PY3 = sys.version_info[0] >= 3


def interpreter_key():
    """Names the interpreter that builds: its version, and a digest of its own
    executable (links resolved, so every venv of one interpreter shares it)
    and extension suffix, so that two interpreters of one version (pyenv's
    and Debian's 3.11, a release and a debug build) never share a build."""
    suffix = sysconfig.get_config_var("EXT_SUFFIX") or sysconfig.get_config_var("SO") or ""
    identity = "%s\n%s" % (os.path.realpath(sys.executable), suffix)
    digest = hashlib.sha256(identity.encode("utf-8")).hexdigest()[:10]
    return "py%d%d-%s" % (sys.version_info[0], sys.version_info[1], digest)


# Build products go under build-pip/<interpreter>, beside (not inside) the
# CMake build directories, one per interpreter so that builds can run at once.
BUILD_BASE = os.path.join("build-pip", interpreter_key())


def version():
    """The package version, from setup.cfg (the module reports it as __version__)."""
    with open(os.path.join(ROOT, "setup.cfg")) as f:
        for line in f:
            name, sep, value = line.partition("=")
            if sep and name.strip() == "version":
                return value.strip()
    raise ValueError("setup.cfg names no version")


def read_config():
    """Sources (every kind: the binding and the cores) and flags."""
    config = {"source": [], "flag": [], "link": []}
    with open(os.path.join(ROOT, "module", "sources.txt")) as f:
        for line in f:
            kind, sep, value = line.strip().partition(": ")
            if not sep or kind.startswith("#"):
                continue
            if kind in ("binding", "keystream", "blockcipher"):
                config["source"].append(value)
            elif kind in ("flag", "link"):
                config[kind].append(value)
            else:
                raise ValueError("module/sources.txt: unknown kind %r" % kind)
    # The version script is named relative to the repository root.
    config["link"] = [v.replace("module/", os.path.join(ROOT, "module") + "/")
                      for v in config["link"]]
    return config


class BuildExt(build_ext):
    """Compiles the C++ sources without the C-only flags the interpreter was
    configured with. Python 2.7's headers are taken as system headers (they
    use the `register` keyword, which C++17 warns about); Python 3's stay
    plain include directories, since GCC resolves the symlinks of system
    headers, and a debug interpreter's (Debian's python3.11d) lead into the
    release directory, whose pyconfig.h does not define Py_DEBUG."""

    def build_extensions(self):
        compiler_so = getattr(self.compiler, "compiler_so", None)
        if compiler_so:
            self.compiler.compiler_so = [f for f in compiler_so if f != "-Wstrict-prototypes"]
        extra = []
        if sys.version_info[0] < 3:
            extra = ["-isystem", sysconfig.get_paths()["include"]]
        elif hasattr(sys, "gettotalrefcount"):
            extra = ["-DVAVIREREZI_EXPECT_PY_DEBUG"]
        for ext in self.extensions:
            ext.extra_compile_args = extra + ext.extra_compile_args
        build_ext.build_extensions(self)


class BdistWheel(Command):
    """A minimal bdist_wheel, for interpreters whose pip builds through wheels
    but where the `wheel` package is not installed (and, offline, cannot be):
    builds the extension and packs it with its metadata into a wheel."""

    description = "build a wheel of the extension module"
    user_options = [("dist-dir=", "d", "directory to put the wheel in")]

    def initialize_options(self):
        self.dist_dir = None

    def finalize_options(self):
        if self.dist_dir is None:
            self.dist_dir = "dist"

    def tag(self):
        """The interpreter's own tag, as pip lists it first among the
        compatible ones (pip debug --verbose), for a platform wheel."""
        implementation = getattr(sys, "implementation", None)
        if implementation is not None and implementation.name == "pypy":
            # pp39, and the ABI of the extension suffix: pypy39_pp73
            python = "pp%d%d" % sys.version_info[:2]
            abi = sysconfig.get_config_var("SOABI").replace("-", "_").replace(".", "_")
        elif hasattr(sys, "abiflags"):
            python = "cp%d%d" % sys.version_info[:2]
            abi = python + sys.abiflags
        else:  # 2.7: the flags of the build, d(ebug), m (pymalloc), u (wide unicode)
            python = "cp%d%d" % sys.version_info[:2]
            config = sysconfig.get_config_var
            abi = python + ("d" if config("Py_DEBUG") else "") + (
                "m" if config("WITH_PYMALLOC") else "") + (
                "u" if sys.maxunicode == 0x10ffff else "")
        platform = sysconfig.get_platform().replace("-", "_").replace(".", "_")
        return "%s-%s-%s" % (python, abi, platform)

    def egg2dist(self, egginfo_path, distinfo_path):
        """Turns egg-info metadata into dist-info (setuptools' dist_info uses
        this): the metadata, and the console scripts pip makes commands of."""
        if os.path.exists(distinfo_path):
            shutil.rmtree(distinfo_path)
        os.makedirs(distinfo_path)
        shutil.copy(os.path.join(egginfo_path, "PKG-INFO"), os.path.join(distinfo_path, "METADATA"))
        entry_points = os.path.join(egginfo_path, "entry_points.txt")
        if os.path.exists(entry_points):
            shutil.copy(entry_points, os.path.join(distinfo_path, "entry_points.txt"))
        with open(os.path.join(distinfo_path, "WHEEL"), "w") as f:
            f.write("Wheel-Version: 1.0\nGenerator: vavirerezi setup.py\n"
                    "Root-Is-Purelib: false\nTag: %s\n" % self.tag())

    def run(self):
        self.run_command("build_ext")
        build_ext = self.get_finalized_command("build_ext")
        ext_name = self.distribution.ext_modules[0].name
        module = build_ext.get_ext_fullpath(ext_name)
        files = [(module, build_ext.get_ext_filename(ext_name))]
        self.run_command("build_py")  # the package's Python files, under Python 3
        build_py = self.get_finalized_command("build_py")
        for path in build_py.get_outputs():
            files.append((path, os.path.relpath(path, build_py.build_lib).replace(os.sep, "/")))
        self.run_command("egg_info")
        egg_info = self.get_finalized_command("egg_info").egg_info
        name = "%s-%s" % (self.distribution.get_name(), self.distribution.get_version())
        staging = os.path.join(BUILD_BASE, "wheel-staging")
        distinfo = os.path.join(staging, name + ".dist-info")
        self.egg2dist(egg_info, distinfo)
        for entry in sorted(os.listdir(distinfo)):
            files.append((os.path.join(distinfo, entry), name + ".dist-info/" + entry))
        if not os.path.isdir(self.dist_dir):
            os.makedirs(self.dist_dir)
        wheel = os.path.join(self.dist_dir, "%s-%s.whl" % (name, self.tag()))
        record_name = name + ".dist-info/RECORD"
        records = []
        with zipfile.ZipFile(wheel, "w", zipfile.ZIP_DEFLATED) as z:
            for path, arcname in files:
                with open(path, "rb") as f:
                    data = f.read()
                digest = base64.urlsafe_b64encode(hashlib.sha256(data).digest()).rstrip(b"=")
                records.append("%s,sha256=%s,%d" % (arcname, digest.decode("ascii"), len(data)))
                z.writestr(arcname, data)
            records.append(record_name + ",,")
            z.writestr(record_name, "\n".join(records) + "\n")


def real_bdist_wheel():
    """Where the tools have a bdist_wheel of their own, its module's name:
    setuptools' (70.1 and later), else the wheel package's; else None."""
    for name in ("setuptools.command.bdist_wheel", "wheel.bdist_wheel"):
        try:
            __import__(name)
        except ImportError:
            continue
        return name
    return None


COMMANDS = {"build_ext": BuildExt}
if real_bdist_wheel() is None:
    COMMANDS["bdist_wheel"] = BdistWheel  # the last resort

CONFIG = read_config()
# A wheel ships the library without debug information, whatever the
# interpreter's own flags (the later -g0 wins over their -g).
CONFIG["flag"].append("-g0")
CONFIG["link"].append("-Wl,--strip-debug")


# Build trees per interpreter; a source distribution keeps its metadata
# (egg-info) at its top, where every tool looks, and takes nothing from them.
OPTIONS = {"build": {"build_base": BUILD_BASE},
           "egg_info": {"egg_base": "." if "sdist" in sys.argv else BUILD_BASE}}


def main():
    if not os.path.isdir(BUILD_BASE):
        os.makedirs(BUILD_BASE)
    # Name, version, description, licence and Requires-Python: setup.cfg.
    setup(
        ext_modules=[
            Extension(
                "vavirerezi._core" if PY3 else "vavirerezi",
                sources=CONFIG["source"],
                include_dirs=["module"],  # gil_policy.h
                extra_compile_args=CONFIG["flag"],
                extra_link_args=CONFIG["link"],
                define_macros=[("VAVIREREZI_VERSION", '"%s"' % version())],
                language="c++",
            )
        ],
        # Python 3: the package around the extension, its inline types and
        # its command; Python 2.7: the extension module alone.
        packages=["vavirerezi"] if PY3 else [],
        package_dir={"vavirerezi": "python/vavirerezi"},
        package_data={"vavirerezi": ["py.typed", "*.pyi"]},
        entry_points={"console_scripts": ["vavirerezi = vavirerezi._cli:main"]} if PY3 else {},
        cmdclass=COMMANDS,
        options=OPTIONS,
    )


if __name__ == "__main__":
    main()
