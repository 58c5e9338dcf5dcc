#!/usr/bin/env bash
# The linters, over every C++ and Python file of the checkout that git knows
# of or would add (tracked, or new and not ignored):
#   clang-format --dry-run --Werror (the style of .clang-format) over *.cpp, *.h;
#   pyflakes (Debian's python3-pyflakes, under /usr/bin/python3) over *.py:
#   unused imports and variables, undefined names, syntax errors.
# pyflakes takes no configuration and knows no `# noqa`: the files that run
# under Python 2.7 as well take 2.7's own names from tests/python/compat.py.
# Run from scripts/test.sh and scripts/check.sh; exits non-zero when either
# linter finds anything. With VAVIREREZI_TALLY set (scripts/tally.sh), counts
# each linter as one test.
set -uo pipefail
cd "$(dirname "$0")/.."
list_files() {
  git ls-files --cached --others --exclude-standard -- "$@" |
    while IFS= read -r f; do [ -f "$f" ] && printf '%s\n' "$f"; done
}
count() { # count RC: one test, passed or failed
  if [ -n "${VAVIREREZI_TALLY:-}" ]; then
    if [ "$1" = 0 ]; then echo "1 0 0"; else echo "0 1 0"; fi >>"$VAVIREREZI_TALLY"
  fi
}
status=0

# lint NAME PACKAGE OK_WORDS FIX_WORDS FILE_PATTERN... -- COMMAND...: runs
# COMMAND over the files, or reports the linter missing; counts one test.
lint() {
  local name=$1 package=$2 ok=$3 fix=$4 rc=0 files=() patterns=()
  shift 4
  while [ "$1" != -- ]; do patterns+=("$1"); shift; done
  shift
  mapfile -t files < <(list_files "${patterns[@]}")
  if ! "$@" --version >/dev/null 2>&1; then
    echo "lint: $name is missing (Debian's $package: bash scripts/install-deps.sh)" >&2
    rc=1
  else
    "$@" "${files[@]}" || rc=1
  fi
  if [ "$rc" = 0 ]; then
    echo "lint: $name: ${#files[@]} files $ok"
  else
    echo "lint: $name: $fix" >&2
    status=1
  fi
  count "$rc"
}

lint clang-format clang-format formatted "misformatted C++ above; fix with clang-format -i FILE" \
  '*.cpp' '*.h' -- clang-format --dry-run --Werror
lint pyflakes python3-pyflakes clean "problems above" '*.py' -- /usr/bin/python3 -m pyflakes
exit "$status"
