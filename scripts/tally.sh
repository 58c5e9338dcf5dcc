# Sourced by the test scripts: counts what each test run passed, failed and
# skipped into the file $VAVIREREZI_TALLY (one line "passed failed skipped" a
# run), so that scripts/test.sh can end with one line for all of them; and
# the stages and summary of the scripts that run them (test.sh, check.sh).

# counted_ctest ARGS...: ctest with ARGS, its counts taken from its JUnit report.
counted_ctest() {
  local report counts rc=0
  report=$(mktemp)
  ctest "$@" --output-junit "$report" || rc=$?
  if [ -s "$report" ]; then
    # The first tag, <testsuite tests= failures= disabled= skipped=>, spans lines
    # (its attributes each on a line of their own, indented by a tab).
    counts=$(tr '\n\t' '  ' <"$report" | sed -n 's/.*<testsuite[^>]* tests="\([0-9]*\)"[^>]* failures="\([0-9]*\)"[^>]* disabled="\([0-9]*\)"[^>]* skipped="\([0-9]*\)".*/\1 \2 \3 \4/p')
    if [ -n "$counts" ]; then
      echo "$counts" | awk '{ print $1 - $2 - $3 - $4, $2, $3 + $4 }' >>"$VAVIREREZI_TALLY"
    else # a report this script cannot read must not pass unseen
      echo "counted_ctest: no counts in ctest's JUnit report" >&2
      echo "0 1 0" >>"$VAVIREREZI_TALLY"
      rc=1
    fi
  elif [ "$rc" != 0 ]; then
    echo "0 1 0" >>"$VAVIREREZI_TALLY" # ctest itself failed before any test
  fi
  rm -f "$report"
  return "$rc"
}

# counted_unittest COMMAND...: a `python -m unittest` run, its counts taken from
# its closing lines ("Ran N tests", then "OK (skipped=K)" or "FAILED (...)").
counted_unittest() {
  local log rc=0
  log=$(mktemp)
  "$@" 2>&1 | tee "$log" || rc=$?
  awk -v rc="$rc" '
    /^Ran [0-9]+ tests? in/ { ran = $2 }
    /^(OK|FAILED)/ {
      n = split($0, parts, /[(), =]+/)
      for (i = 1; i < n; i++) {
        if (parts[i] == "errors" || (parts[i] == "failures" && parts[i - 1] != "expected")) failed += parts[i + 1]
        if (parts[i] == "skipped") skipped += parts[i + 1]
      }
    }
    END {
      if (ran == "") { print 0, 1, 0; exit }
      if (rc != 0 && failed == 0) failed = 1
      print ran - failed - skipped, failed + 0, skipped + 0
    }' "$log" >>"$VAVIREREZI_TALLY"
  rm -f "$log"
  return "$rc"
}

# tally_line: "N passed, N failed, N skipped" over every run counted so far.
tally_line() {
  awk '{ p += $1; f += $2; s += $3 } END { printf "%d passed, %d failed, %d skipped\n", p, f, s }' \
    "$VAVIREREZI_TALLY"
}

# tally_begin [LABEL]: a fresh tally for a script that runs stages, and at its
# exit a summary: "== summary", the stages that failed, and the tests line.
# The script then exits non-zero where a stage failed or a step (a build, say)
# stopped it; that step counts as one failed test.
tally_begin() {
  VAVIREREZI_TALLY=$(mktemp)
  export VAVIREREZI_TALLY
  tally_label=${1:-}
  failed_stages=()
  trap tally_finish EXIT
}
tally_finish() {
  local rc=$?
  if [ "$rc" != 0 ]; then
    echo "0 1 0" >>"$VAVIREREZI_TALLY"
  fi
  echo "== summary${tally_label:+ ($tally_label)}"
  if [ "${#failed_stages[@]}" -gt 0 ]; then
    echo "failing stages: ${failed_stages[*]}"
  fi
  echo "tests: $(tally_line)"
  rm -f "$VAVIREREZI_TALLY"
  if [ "$rc" = 0 ] && [ "${#failed_stages[@]}" -gt 0 ]; then
    exit 1
  fi
}

# stage NAME COMMAND...: a stage whose failing tests do not stop the others;
# one that fails without a failed test counted (a build step, say) counts as one.
stage() {
  local name=$1 before
  shift
  before=$(awk '{ f += $2 } END { print f + 0 }' "$VAVIREREZI_TALLY")
  if ! "$@"; then
    failed_stages+=("$name")
    if [ "$(awk '{ f += $2 } END { print f + 0 }' "$VAVIREREZI_TALLY")" = "$before" ]; then
      echo "0 1 0" >>"$VAVIREREZI_TALLY"
    fi
  fi
}
