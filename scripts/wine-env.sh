# Sourced by the scripts that run Win32 programs under Wine: the Wine settings of the test runs,
# and the Wine prefix, created on first use (runs started together wait for one of them to do it).
export WINEDEBUG=${WINEDEBUG:--all}
export WINEPREFIX=${WINEPREFIX:-$HOME/.wine-zorv}
export WINEARCH=win32
export WINEDLLOVERRIDES="mscoree,mshtml="
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  (
    flock 9
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
      echo "wine: creating the Wine prefix $WINEPREFIX"
      wineboot -i >/dev/null 2>&1
      wineserver -w
    fi
  ) 9>"${TMPDIR:-/tmp}/.zorv-wineprefix.lock"
fi
