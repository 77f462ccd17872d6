#!/usr/bin/env bash
# Runs one Win32 GoogleTest program under Wine. A crashed Win32 process can still exit 0 under
# Wine, so success needs both exit code 0 and GoogleTest's own summary line with no failures.
set -uo pipefail
exe="$1"; shift
source "$(dirname "$0")/wine-env.sh"
log=$(mktemp)
if command -v xvfb-run >/dev/null && [ -z "${DISPLAY:-}" ]; then
  xvfb-run -a wine "$exe" "$@" 2>&1 | tee "$log"
else
  wine "$exe" "$@" 2>&1 | tee "$log"
fi
rc=${PIPESTATUS[0]}
# GoogleTest's summary, or the "N passed, 0 failed" closing line of the ABI client.
summary_ok=0
grep -q '^\[  PASSED  \]' "$log" && ! grep -q '^\[  FAILED  \]' "$log" && summary_ok=1
grep -Eq '^[1-9][0-9]* passed, 0 failed' "$log" && summary_ok=1
rm -f "$log"
if [ "$rc" -ne 0 ] || [ "$summary_ok" -ne 1 ]; then
  echo "wine-test: $exe failed (exit $rc, summary ok $summary_ok)"
  exit 1
fi
