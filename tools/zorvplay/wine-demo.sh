#!/usr/bin/env bash
# Runs a command (the demo test script) with Wine set up for the Windows zorvplay: the Wine prefix
# of the test suites (created on first use, as scripts/wine-test.sh does) and, when there is no
# display, a virtual one large enough for the 4 x 4 wall. The command starts wine itself.
set -uo pipefail
source "$(dirname "$0")/../../scripts/wine-env.sh"
if command -v xvfb-run >/dev/null && [ -z "${DISPLAY:-}" ]; then
  exec xvfb-run -a -s "-screen 0 1920x1440x24" "$@"
fi
exec "$@"
