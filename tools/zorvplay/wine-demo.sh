#!/usr/bin/env bash
# Runs a command (the demo test script) with Wine set up for the Windows zorvplay: the Wine prefix
# of the test suites (created on first use, as scripts/wine-test.sh does) and, when there is no
# display, a virtual one large enough for the 4 x 4 wall. The command starts wine itself.
set -uo pipefail
export WINEDEBUG=${WINEDEBUG:--all}
export WINEPREFIX=${WINEPREFIX:-$HOME/.wine-zorv}
export WINEARCH=win32
export WINEDLLOVERRIDES="mscoree,mshtml="
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  (
    flock 9
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
      echo "wine-demo: creating the Wine prefix $WINEPREFIX"
      wineboot -i >/dev/null 2>&1
      wineserver -w
    fi
  ) 9>"${TMPDIR:-/tmp}/.zorv-wineprefix.lock"
fi
if command -v xvfb-run >/dev/null && [ -z "${DISPLAY:-}" ]; then
  exec xvfb-run -a -s "-screen 0 1920x1440x24" "$@"
fi
exec "$@"
