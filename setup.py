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
    """bdist_wheel where the tools have none. setuptools has its own from 70.1
    on; before, it came from the `wheel` package, which none of the
    interpreters here has (nor can get offline): 2.7 (setuptools 41), 3.8
    (56), 3.11 (65) and PyPy 3 (66) all build their wheels with this one
    (3.12 and 3.13 have no setuptools and build with CMake). pip builds
    through it, and asks setuptools' dist_info for the metadata, which calls
    its egg2dist. The wheel holds what `build` put in its build_lib (the
    extension, and under Python 3 the package's files) and the metadata."""

    description = "build a wheel of the extension module"
    user_options = [("dist-dir=", "d", "directory to put the wheel in")]

    def initialize_options(self):
        self.dist_dir = None

    def finalize_options(self):
        self.dist_dir = self.dist_dir or "dist"

    @staticmethod
    def tag():
        """The interpreter's own tag, the first pip lists among the compatible
        ones (pip debug --verbose), for a platform wheel."""
        python = "cp%d%d" % sys.version_info[:2]
        config = sysconfig.get_config_var
        if hasattr(sys, "pypy_version_info"):  # pp39-pypy39_pp73, as its extension suffix
            python = "pp%d%d" % sys.version_info[:2]
            abi = config("SOABI").replace("-", "_").replace(".", "_")
        elif PY3:
            abi = python + sys.abiflags
        else:  # 2.7: d(ebug), m (pymalloc), u (wide unicode)
            abi = python + ("d" if config("Py_DEBUG") else "") + (
                "m" if config("WITH_PYMALLOC") else "") + ("u" if sys.maxunicode > 0xffff else "")
        platform = sysconfig.get_platform().replace("-", "_").replace(".", "_")
        return "%s-%s-%s" % (python, abi, platform)

    def egg2dist(self, egginfo_path, distinfo_path):
        """egg-info metadata as dist-info: METADATA, the console scripts pip
        makes commands of, and WHEEL."""
        shutil.rmtree(distinfo_path, ignore_errors=True)
        os.makedirs(distinfo_path)
        for source, target in (("PKG-INFO", "METADATA"), ("entry_points.txt", "entry_points.txt")):
            if os.path.exists(os.path.join(egginfo_path, source)):
                shutil.copy(os.path.join(egginfo_path, source), os.path.join(distinfo_path, target))
        with open(os.path.join(distinfo_path, "WHEEL"), "w") as f:
            f.write("Wheel-Version: 1.0\nGenerator: vavirerezi setup.py\n"
                    "Root-Is-Purelib: false\nTag: %s\n" % self.tag())

    def run(self):
        self.run_command("build")
        self.run_command("egg_info")
        name = "%s-%s" % (self.distribution.get_name(), self.distribution.get_version())
        distinfo = os.path.join(BUILD_BASE, "wheel-staging", name + ".dist-info")
        self.egg2dist(self.get_finalized_command("egg_info").egg_info, distinfo)
        files = []  # (path, name in the wheel), the dist-info last, as the format asks
        build_lib = self.get_finalized_command("build").build_lib
        for top, prefix in ((build_lib, ""), (distinfo, name + ".dist-info/")):
            for directory, _, names in sorted(os.walk(top)):
                for file_name in sorted(names):
                    path = os.path.join(directory, file_name)
                    files.append((path, prefix + os.path.relpath(path, top).replace(os.sep, "/")))
        if not os.path.isdir(self.dist_dir):
            os.makedirs(self.dist_dir)
        record = name + ".dist-info/RECORD"
        lines = []
        with zipfile.ZipFile(os.path.join(self.dist_dir, "%s-%s.whl" % (name, self.tag())), "w",
                             zipfile.ZIP_DEFLATED) as z:
            for path, arcname in files:
                with open(path, "rb") as f:
                    data = f.read()
                digest = base64.urlsafe_b64encode(hashlib.sha256(data).digest()).rstrip(b"=")
                lines.append("%s,sha256=%s,%d" % (arcname, digest.decode("ascii"), len(data)))
                z.writestr(arcname, data)
            z.writestr(record, "\n".join(lines + [record + ",,"]) + "\n")


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
