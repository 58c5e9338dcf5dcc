#!/usr/bin/env bash
# Usage: installed_tests.sh PYTHON SITE SRC [COMMAND]
# Runs the module tests of the source tree SRC under PYTHON against the module
# installed in the directory SITE, from a copy outside the tree; checks that
# the module imported is that one, and under Python 3 that the type stubs
# and the command-line tool's module were installed beside it, and that the
# installed command COMMAND (Python 3) exists: the tool's tests run it.
set -euo pipefail
python=$1
site=$2
src=$3
command=${4:-}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
if "$python" -c 'import sys; sys.exit(sys.version_info[0] < 3)'; then
  cmp "$site/vavirerezi-stubs/__init__.pyi" "$src/stubs/vavirerezi-stubs/__init__.pyi"
  cmp "$site/vavirerezi_cli.py" "$src/cli/vavirerezi_cli.py"
  echo "type stubs and the tool's module installed beside the module"
  if [ -n "$command" ]; then
    [ -x "$command" ] || { echo "no command $command" >&2; exit 1; }
    export VAVIREREZI_CLI="$command"
    echo "the tool's tests run $command"
  fi
fi
cp -r "$src/tests/python" "$work/tests"
cd "$work/tests"
export PYTHONPATH="$site" VAVIREREZI_SKIP_SOAK=1
"$python" -c "import vavirerezi; assert vavirerezi.__file__.startswith('$site'), vavirerezi.__file__; print('installed at ' + vavirerezi.__file__)"
# Every module test file but the allocation tests, which need the shim preloaded.
"$python" -m unittest $(ls test_*.py | grep -vx test_faults.py | sed 's/\.py$//')
