# Sourced by scripts/wine-tests and scripts/windows-release: the Windows build's configuration,
# and a Wine session of its own for one run, on an Xvfb screen of its own.
#   configure_windows_build ROOT BUILD  the mingw build with the windows, on the static Qt of
#                                       scripts/qt-mingw and the static SQLite, OpenSSL and libpq
#                                       of scripts/db-mingw (each built when missing;
#                                       LOVAR_QT_PREFIX and LOVAR_DB_PREFIX name others);
#                                       LOVAR_WERROR=ON makes warnings errors
#   wine_session_start PREFIX WORKDIR   Xvfb (DISPLAY exported), the prefix made when missing,
#                                       one persistent wineserver; ends with wine_session_end
#   wait_window TITLE [SECONDS]         until a window whose title contains TITLE is shown
#   windows_path PATH                   the Windows name of a Linux path (drive Z:)
# A Wine program's output is best sent to a file: Wine's own processes that it starts (the
# desktop, the services) inherit its pipes and keep them open.
# Needs wine (or wine64), Xvfb and xdotool.

export WINEDEBUG=-all
# No Mono or Gecko installer prompts; no menu entries or .desktop files for the Linux desktop
# from the shortcuts an installer makes (they would go to the user's home, outside the prefix).
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
WINE=$(command -v wine || command -v wine64)
wine_session_pids=()

configure_windows_build() {
  local root=$1 build=$2 qt db
  qt=${LOVAR_QT_PREFIX:-$("$root/scripts/qt-mingw")}
  db=${LOVAR_DB_PREFIX:-$("$root/scripts/db-mingw")}
  echo "== configure $build (Qt: $qt; SQLite, libpq: $db)"
  # A build folder configured on another Qt (an older cache key) keeps that Qt's paths in its
  # cache: start it afresh.
  local found
  found=$(sed -n 's/^Qt6_DIR:PATH=//p' "$build/CMakeCache.txt" 2>/dev/null || true)
  if [[ -n $found && $found != "$qt"/* ]]; then
    rm -rf "$build/CMakeCache.txt" "$build/CMakeFiles"
  fi
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
    -DLOVAR_BUILD_UI=ON -DLOVAR_QT_PREFIX="$qt" -DLOVAR_DB_PREFIX="$db" \
    -DLOVAR_WERROR="${LOVAR_WERROR:-OFF}" >/dev/null
}

wine_session_start() {
  export WINEPREFIX=$1
  local workdir=$2
  # The screen must be there before any Wine process: Wine's desktop process takes the display
  # it first finds and keeps it for the whole session.
  Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$workdir/display" \
    2>"$workdir/xvfb.log" &
  wine_session_pids+=("$!")
  local _
  for _ in $(seq 100); do [[ -s $workdir/display ]] && break; sleep 0.1; done
  if [[ ! -s $workdir/display ]]; then
    echo "Xvfb did not start: $(cat "$workdir/xvfb.log")" >&2
    return 1
  fi
  export DISPLAY=":$(cat "$workdir/display")"
  # Making a prefix now and then fails at once (seen right after another prefix's session);
  # a second try with no server left behind makes it.
  local try
  for try in 1 2; do
    [[ -f $WINEPREFIX/system.reg ]] && break
    mkdir -p "$WINEPREFIX"
    timeout 300 wineboot -i >"$workdir/wineboot.log" 2>&1 || true
    wineserver -w || true  # the registry is on disk once the server has ended
    [[ -f $WINEPREFIX/system.reg ]] && break
    echo "wineboot made no prefix in $WINEPREFIX (try $try): $(tail -n 5 "$workdir/wineboot.log")" >&2
    wineserver -k 2>/dev/null || true
    [[ $try == 2 ]] && return 1
  done
  # One server for the whole run: every program starts faster. Its output is dropped: it
  # writes a dump of its objects each time a pseudo-terminal it holds is hung up.
  wineserver -p >/dev/null 2>&1 || true
}

wine_session_end() {
  [[ -n ${WINEPREFIX:-} && -d $WINEPREFIX ]] && wineserver -k 2>/dev/null || true
  local p
  for p in "${wine_session_pids[@]:-}"; do [[ -n $p ]] && kill "$p" 2>/dev/null || true; done
  wine_session_pids=()
}

wait_window() {
  local title=$1 seconds=${2:-120} _
  for _ in $(seq $((seconds * 5))); do
    xdotool search --name "$title" >/dev/null 2>&1 && return 0
    sleep 0.2
  done
  return 1
}

windows_path() {
  local path
  path=$(realpath -m "$1")
  echo "Z:${path//\//\\}"
}
