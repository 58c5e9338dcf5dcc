#!/usr/bin/env bash
# Checks the package's inline types with a type checker (mypy, under the
# build machine's python3): the package's Python files, its .pyi and py.typed
# (PEP 561) installed into a virtual environment of PYTHON3, as pip installs
# them, must accept tests/types/good.py and report each call in
# tests/types/bad.py. Exits 77 (skipped) where no type checker is installed.
set -euo pipefail
python=$1
src=$2
# Debian's mypy runs under the system python3, which PATH may not put first.
checker=()
for candidate in /usr/bin/python3 python3; do
  if "$candidate" -m mypy --version >/dev/null 2>&1; then
    checker=("$candidate" -m mypy)
    break
  fi
done
if [ "${#checker[@]}" = 0 ]; then
  echo "SKIPPED: no type checker (Debian's python3-mypy) is installed"
  exit 77
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$python" -m venv --without-pip "$work/venv"
site=$("$work/venv/bin/python" -c 'import sysconfig; print(sysconfig.get_paths()["purelib"])')
cp -r "$src/python/vavirerezi" "$site/"
check=("${checker[@]}" --no-incremental --cache-dir=/dev/null --python-executable "$work/venv/bin/python")
cd "$src/tests/types"
"${check[@]}" good.py
set +e
out=$("${check[@]}" bad.py)
rc=$?
set -e
echo "$out"
# Every line that is not a comment, blank or the import must be reported.
want=$(grep -n -v -e '^#' -e '^$' -e '^import' bad.py | cut -d: -f1 | xargs)
got=$(echo "$out" | sed -n 's/^bad.py:\([0-9]*\): error.*/\1/p' | sort -nu | xargs)
if [ "$rc" = 0 ] || [ "$got" != "$want" ]; then
  echo "the type checker reported lines '$got' of bad.py; expected '$want'" >&2
  exit 1
fi
echo "stubs: good.py accepted; every wrong call in bad.py reported (lines $got)"
