#!/usr/bin/env bash
# Reads the logs that a ctest run left in DIR (one per Qt Test suite), says how
# many cases were skipped and why, and fails when a case skipped for any reason
# but a missing optional tool or CPU feature: a skipped core case must not hide
# behind a green run.
#   scripts/check-skips.sh DIR
set -euo pipefail
dir=${1:?usage: check-skips.sh DIR}
shopt -s nullglob
logs=("$dir"/*.txt)
if [ ${#logs[@]} -eq 0 ]; then
    echo "check-skips: no test logs in $dir" >&2
    exit 1
fi
skips=$(grep -h '^SKIP ' "${logs[@]}" || true)
count=$(printf '%s' "$skips" | grep -c . || true)
bad=$(printf '%s' "$skips" | grep -v -E '\) missing optional (tool|CPU feature): ' || true)
echo "skipped: $count test cases in ${#logs[@]} suites"
[ -z "$skips" ] || printf '%s\n' "$skips" | sed 's/^/  /'
if [ -n "$bad" ]; then
    echo "check-skips: these cases skipped for a reason other than a missing optional tool:" >&2
    printf '%s\n' "$bad" | sed 's/^/  /' >&2
    exit 1
fi
