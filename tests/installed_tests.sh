#!/usr/bin/env bash
# Usage: installed_tests.sh PYTHON SITE SRC [COMMAND]
# Runs the module tests of the source tree SRC under PYTHON against the module
# installed in the directory SITE, from a copy outside the tree; checks that
# the module imported is that one, and under Python 3 that it is the package
# with every file of python/vavirerezi (its inline types among them), and
# that the installed command COMMAND (Python 3) exists: the tool's tests run
# it.
set -euo pipefail
python=$1
site=$2
src=$3
command=${4:-}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
if "$python" -c 'import sys; sys.exit(sys.version_info[0] < 3)'; then
  for file in "$src"/python/vavirerezi/*; do
    cmp "$site/vavirerezi/$(basename "$file")" "$file"
  done
  ls "$site"/vavirerezi/_core.*.so >/dev/null
  echo "the package installed whole: $(ls "$site/vavirerezi" | grep -v __pycache__ | xargs)"
  if [ -n "$command" ]; then
    [ -x "$command" ] || { echo "no command $command" >&2; exit 1; }
    export VAVIREREZI_CLI="$command"
    echo "the tool's tests run $command"
  fi
fi
cp -r "$src/tests/python" "$work/tests"
cd "$work/tests"
# What is checked here is the install: the command's long tables run a sample.
export PYTHONPATH="$site" VAVIREREZI_SKIP_SOAK=1 VAVIREREZI_EXAMPLES="$src/examples" \
  VAVIREREZI_SAMPLED_TESTS=1
"$python" -c "import vavirerezi; assert vavirerezi.__file__.startswith('$site'), vavirerezi.__file__; print('installed at ' + vavirerezi.__file__)"
# Every module test file but the allocation tests, which need the shim preloaded.
"$python" -m unittest $(ls test_*.py | grep -vx test_faults.py | sed 's/\.py$//')
