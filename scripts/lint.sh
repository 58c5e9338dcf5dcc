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
files() {
  git ls-files --cached --others --exclude-standard -- "$@" |
    while IFS= read -r f; do [ -f "$f" ] && printf '%s\n' "$f"; done
}
count() { # count RC: one test, passed or failed
  if [ -n "${VAVIREREZI_TALLY:-}" ]; then
    if [ "$1" = 0 ]; then echo "1 0 0"; else echo "0 1 0"; fi >>"$VAVIREREZI_TALLY"
  fi
}
status=0

mapfile -t cpp < <(files '*.cpp' '*.h')
rc=0
if ! command -v clang-format >/dev/null; then
  echo "lint: clang-format is missing (Debian's clang-format: bash scripts/install-deps.sh)" >&2
  rc=1
else
  clang-format --dry-run --Werror "${cpp[@]}" || rc=1
fi
if [ "$rc" = 0 ]; then
  echo "lint: clang-format: ${#cpp[@]} C++ files formatted"
else
  echo "lint: clang-format: misformatted C++ above; fix with clang-format -i FILE" >&2
fi
count "$rc"
[ "$rc" = 0 ] || status=1

mapfile -t py < <(files '*.py')
rc=0
if ! /usr/bin/python3 -c 'import pyflakes' 2>/dev/null; then
  echo "lint: pyflakes is missing (Debian's python3-pyflakes: bash scripts/install-deps.sh)" >&2
  rc=1
else
  /usr/bin/python3 -m pyflakes "${py[@]}" || rc=1
fi
if [ "$rc" = 0 ]; then
  echo "lint: pyflakes: ${#py[@]} Python files clean"
else
  echo "lint: pyflakes: problems above" >&2
fi
count "$rc"
[ "$rc" = 0 ] || status=1
exit "$status"
