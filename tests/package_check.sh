#!/usr/bin/env bash
# The package as a user gets it, offline, from the source tree this script is
# in:
#   1. a source distribution built with Debian's python3-build, which must
#      hold what a build needs and nothing from a build tree;
#   2. that sdist installed by pip into fresh virtual environments of
#      Python 3.8, 3.11 and PyPy 3, and into a directory with 2.7's pip, each
#      passing the module tests (installed_tests.sh) with its metadata naming
#      the licence and Requires-Python; 3.7's pip must refuse it;
#   3. the CMake build without Python 2.7, for 3.12 and 3.13, installed with
#      cmake --install under a prefix and passing the module tests there.
# An interpreter that is not on this machine is skipped, and said so.
set -euo pipefail
src="$(cd "$(dirname "$0")/.." && pwd)"
. "$src/scripts/tally.sh"
: "${VAVIREREZI_TALLY:=/dev/null}"
pyenv_root="${PYENV_ROOT:-$(pyenv root 2>/dev/null || echo "$HOME/.pyenv")}"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# pyenv PREFIX: the newest pyenv interpreter of that version, or nothing.
pyenv_python() {
  ls -d "$pyenv_root"/versions/"$1".* 2>/dev/null | sort -V | tail -n 1 | sed 's|$|/bin/python|'
}
skipped() {
  echo "SKIPPED: $1"
  echo "0 0 1" >>"$VAVIREREZI_TALLY"
}
pip_offline=(-m pip --disable-pip-version-check install --no-index --no-build-isolation)

echo "-- source distribution"
mkdir "$work/tree"
git -C "$src" ls-files -z --cached --others --exclude-standard | (cd "$src" && xargs -0 tar -cf -) | tar -C "$work/tree" -xf -
(cd "$work/tree" && /usr/bin/python3 -m build --sdist --no-isolation -o "$work/dist" . >/dev/null)
sdist=$(ls "$work"/dist/vavirerezi-*.tar.gz)
listing=$(tar -tzf "$sdist" | sed 's|^[^/]*/||')
for needed in LICENSE README.md pyproject.toml setup.cfg setup.py module/sources.txt \
  module/exports.map module/compat.h keystream/mt19937.h blockcipher/blowfish_tables.h \
  common/cpu.h python/vavirerezi/__init__.py python/vavirerezi/__main__.py \
  python/vavirerezi/_core.pyi python/vavirerezi/py.typed cmake/vavirerezi-command.in \
  vavirerezi.egg-info/PKG-INFO; do
  echo "$listing" | grep -qx "$needed" || { echo "$sdist lacks $needed" >&2; exit 1; }
done
if echo "$listing" | grep -E '^(build|dist)'; then
  echo "$sdist carries files from a build tree (above)" >&2
  exit 1
fi
echo "$(basename "$sdist"): $(echo "$listing" | grep -vc '/$') files"

metadata_check() { # PYTHON: the installed distribution's licence, Requires-Python, wheel tag
  "$1" -c 'import importlib.metadata as m, vavirerezi
from pip._vendor.packaging.tags import sys_tags
meta = m.metadata("vavirerezi")
wheel = m.distribution("vavirerezi").read_text("WHEEL")
tag = [line.split(": ")[1] for line in wheel.splitlines() if line.startswith("Tag: ")][0]
assert tag in [str(t) for t in sys_tags()], "wheel tagged %s, not one of this interpreter" % tag
assert meta["License"] == "MIT", meta["License"]
assert "!=3.7.*" in meta["Requires-Python"] and ">=2.7" in meta["Requires-Python"]
assert vavirerezi.__version__ == meta["Version"], (vavirerezi.__version__, meta["Version"])
print("metadata: License %s, Requires-Python %s, wheel %s" % (meta["License"], meta["Requires-Python"], tag))'
}

for name in 3.8 3.11 pypy3; do
  echo "-- sdist into a fresh virtual environment of $name"
  if [ "$name" = pypy3 ]; then python=$(command -v pypy3 || true); else python=$(pyenv_python "$name"); fi
  if [ -z "$python" ] || [ ! -x "$python" ]; then
    skipped "no $name here"
    continue
  fi
  "$python" -m venv "$work/venv-$name"
  venv="$work/venv-$name/bin/python"
  "$venv" "${pip_offline[@]}" --quiet "$sdist"
  metadata_check "$venv"
  site=$("$venv" -c 'import sysconfig; print(sysconfig.get_paths()["platlib"])')
  counted_unittest bash "$src/tests/installed_tests.sh" "$venv" "$site" "$src" \
    "$work/venv-$name/bin/vavirerezi"
done

echo "-- sdist with Python 2.7's pip"
python27=$(pyenv_python 2.7)
if [ -n "$python27" ] && [ -x "$python27" ]; then
  "$python27" "${pip_offline[@]}" --quiet --target "$work/site27" "$sdist" 2>&1 | grep -v DEPRECATION || true
  grep -qx "License: MIT" "$work"/site27/vavirerezi-*.dist-info/METADATA
  counted_unittest bash "$src/tests/installed_tests.sh" "$python27" "$work/site27" "$src"
  if [ -e "$work/site27/bin/vavirerezi" ]; then
    echo "Python 2.7's install has a vavirerezi command" >&2
    exit 1
  fi
else
  skipped "no Python 2.7 here"
fi

echo "-- Python 3.7's pip refuses the sdist"
python37=$(pyenv_python 3.7)
if [ -n "$python37" ] && [ -x "$python37" ]; then
  if out=$("$python37" "${pip_offline[@]}" --target "$work/site37" "$sdist" 2>&1); then
    echo "Python 3.7's pip installed the package" >&2
    exit 1
  fi
  echo "$out" | grep "requires a different Python"
else
  skipped "no Python 3.7 here"
fi

echo "-- CMake without Python 2.7, for 3.12 and 3.13, then cmake --install under a prefix"
pythons=()
for v in 3.12 3.13; do
  p=$(pyenv_python "$v")
  if [ -n "$p" ] && [ -x "$p" ]; then pythons+=("$p"); else skipped "no Python $v here"; fi
done
if [ "${#pythons[@]}" -gt 0 ]; then
  list=$(IFS=';'; echo "${pythons[*]}")
  cmake -S "$src" -B "$work/cmake" -DVAVIREREZI_PYTHON27=OFF -DVAVIREREZI_PYTHON3="$list" \
    -DVAVIREREZI_TESTS=OFF -DVAVIREREZI_BENCH=OFF >/dev/null
  cmake --build "$work/cmake" -j"$(nproc)" >/dev/null
  cmake --install "$work/cmake" --prefix "$work/prefix" >/dev/null
  if ls "$work"/prefix/lib/python2.7 2>/dev/null; then
    echo "a Python 2.7 module was installed with VAVIREREZI_PYTHON27=OFF" >&2
    exit 1
  fi
  for p in "${pythons[@]}"; do
    site="$work/prefix/$("$p" -c "import sysconfig; print(sysconfig.get_path('platlib', vars={'base': '', 'platbase': ''}).lstrip('/'))")"
    # bin/vavirerezi runs under one of them; the tool's tests of the others
    # run it as python -m vavirerezi.
    command=""
    if [ "$(head -n 1 "$work/prefix/bin/vavirerezi")" = "#!$p" ]; then
      command="$work/prefix/bin/vavirerezi"
    fi
    counted_unittest bash "$src/tests/installed_tests.sh" "$p" "$site" "$src" $command
  done
  [ -x "$work/prefix/bin/vavirerezi" ] || { echo "cmake --install put no bin/vavirerezi" >&2; exit 1; }
fi
