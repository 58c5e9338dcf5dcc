#!/usr/bin/env bash
# pip-installs the module with PYTHON from a copy of the source tree SRC into
# a fresh directory, offline, checks that it exports one symbol, and runs the
# module tests against that install from outside the source tree.
set -euo pipefail
python=$1
src=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

mkdir "$work/src"
tar -C "$src" --exclude='./build*' --exclude='./.git' -cf - . | tar -C "$work/src" -xf -
extra=()
if "$python" -c 'import sys; sys.exit(sys.version_info[0] < 3)'; then
  extra=(--no-build-isolation) # nothing can be fetched for an isolated build
fi
"$python" -m pip install --no-index --disable-pip-version-check "${extra[@]}" \
  --target "$work/site" "$work/src"

library=$(ls "$work"/site/vavirerezi*.so)
exports=$(nm -D --defined-only "$library" | awk '{print $3}')
case "$exports" in
  initvavirerezi | PyInit_vavirerezi) echo "exports: $exports" ;;
  *) echo "unexpected exports: $exports" >&2; exit 1 ;;
esac

cp -r "$src/tests/python" "$work/tests"
cd "$work/tests"
export PYTHONPATH="$work/site" VAVIREREZI_SKIP_SOAK=1 VAVIREREZI_SKIP_HUGE=1
"$python" -c "import vavirerezi; assert vavirerezi.__file__.startswith('$work/site'), vavirerezi.__file__; print('installed at ' + vavirerezi.__file__)"
"$python" -m unittest test_mt_xor_bytes test_bf_process test_surface test_hardening
