# Sourced by the scripts that run Win32 programs under Wine: the Wine settings of the test runs,
# and the Wine prefix, created on first use (runs started together wait for one of them to do it).
export WINEDEBUG=${WINEDEBUG:--all}
export WINEPREFIX=${WINEPREFIX:-$HOME/.wine-zorv}
export WINEARCH=win32
export WINEDLLOVERRIDES="mscoree,mshtml="
# The stand-in vendor libraries of the Win32 test tree need MinGW's libwinpthread-1.dll.
winpthread=$(i686-w64-mingw32-g++-posix -print-file-name=libwinpthread-1.dll 2>/dev/null)
if [ -f "$winpthread" ]; then
  winpthread_dir="Z:$(dirname "$(readlink -f "$winpthread")" | tr / '\\')"
  case ";${WINEPATH:-};" in
    *";$winpthread_dir;"*) ;;
    *) export WINEPATH="$winpthread_dir${WINEPATH:+;$WINEPATH}" ;;
  esac
fi
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
