#!/usr/bin/env bash
# pip-builds a wheel of the module with PYTHON from a copy of the source tree
# SRC, offline; checks its tag against the interpreter's own, that its library
# carries no debug information and exports one symbol; installs the wheel
# into a fresh directory and runs the module tests against that install from
# outside the source tree (installed_tests.sh). Also checks which bdist_wheel setup.py takes.
set -euo pipefail
python=$1
src=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

mkdir "$work/src"
tar -C "$src" --exclude='./build*' --exclude='./.git' -cf - . | tar -C "$work/src" -xf -
extra=(--no-build-isolation) # nothing can be fetched for an isolated build
pip=("$python" -m pip --disable-pip-version-check)

# setup.py uses the tools' own bdist_wheel where they have one (here a
# stand-in for the wheel package), its minimal one only where they have none.
mkdir -p "$work/fake/wheel"
touch "$work/fake/wheel/__init__.py"
echo "class bdist_wheel(object): pass" > "$work/fake/wheel/bdist_wheel.py"
(cd "$work/src" && PYTHONPATH="$work/fake" "$python" -c \
  "import setup; assert setup.real_bdist_wheel() == 'wheel.bdist_wheel', setup.real_bdist_wheel(); assert 'bdist_wheel' not in setup.COMMANDS")
(cd "$work/src" && "$python" -c \
  "import setup; assert (setup.real_bdist_wheel() is None) == ('bdist_wheel' in setup.COMMANDS)")

"${pip[@]}" wheel --no-index --no-deps "${extra[@]}" -w "$work/dist" "$work/src"
wheel=$(ls "$work"/dist/vavirerezi-*.whl)
tag=$(basename "$wheel" .whl | cut -d- -f3-)
# The interpreter's own tag for a platform wheel: the first plain linux one
# among those pip lists as compatible.
own=$("${pip[@]}" debug --verbose 2>/dev/null | sed -n 's/^  \(cp[0-9]*-[a-z0-9_]*-linux_[a-z0-9_]*\)$/\1/p' | head -n 1)
if [ "$tag" != "$own" ]; then
  echo "wheel tagged $tag, the interpreter's own tag is '$own'" >&2
  exit 1
fi
echo "wheel: $(basename "$wheel")"

"${pip[@]}" install --no-index --no-deps --target "$work/site" "$wheel"
library=$(ls "$work"/site/vavirerezi*.so "$work"/site/vavirerezi/_core*.so 2>/dev/null || true)
if readelf -S "$library" | grep -q '\.debug_'; then
  echo "$library carries debug information" >&2
  exit 1
fi
case "$library" in
  */vavirerezi.so) expected=initvavirerezi ;;
  *) expected=PyInit__core ;;
esac
cmake -DLIBRARY="$library" -DEXPECTED="$expected" -P "$src/tests/check_exports.cmake"

# pip puts the command of a --target install in its bin/.
command=""
if "$python" -c 'import sys; sys.exit(sys.version_info[0] < 3)'; then
  command="$work/site/bin/vavirerezi"
elif [ -e "$work/site/bin/vavirerezi" ]; then
  echo "Python 2.7's install has a vavirerezi command" >&2
  exit 1
fi
bash "$src/tests/installed_tests.sh" "$python" "$work/site" "$src" $command
