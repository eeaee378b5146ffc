#!/usr/bin/env bash
# The Wine side of the Windows MEX tests (called by CTest).
#
#   wine-test.sh prefix PREFIX
#       makes a fresh 64-bit Wine prefix (it runs 32-bit programs too), or
#       keeps the one a previous run made with the same Wine
#   wine-test.sh run PREFIX DRIVER.exe MEXFILE CASEFILE
#       runs the test driver on a MEX file; passes only on the driver's
#       success line, because a Windows program Wine could not start (a 32-bit
#       one without wine32, say) may still leave exit status 0
#   wine-test.sh tables OBJDUMP64 MEXW64 OBJDUMP32 MEXW32
#       fails unless each DLL imports from libmx.dll, libmex.dll, KERNEL32.dll
#       and msvcrt.dll only and exports mexFunction alone
set -uo pipefail

wine_environment() {
  export WINEPREFIX="$1" WINEARCH=win64 WINEDEBUG=-all
  # Wine wants a home folder; CI may run without one set.
  export HOME="${HOME:-$(dirname "$1")}"
  # No display, and no prompts to install Wine's Mono and Gecko.
  unset DISPLAY WAYLAND_DISPLAY
  export WINEDLLOVERRIDES="mscoree,mshtml="
}

case "${1:-}" in
  prefix)
    wine_environment "$2"
    # One prefix per build tree, made anew whenever Wine changed since, in
    # particular when wine32 was added: a prefix made without it cannot run
    # 32-bit programs.
    stamp="$WINEPREFIX/corvane-prefix-stamp"
    want="$(wine --version) wine32=$([[ -x /usr/lib/wine/wine ]] && echo yes || echo no)"
    if [[ -f "$stamp" && "$(cat "$stamp")" == "$want" ]]; then
      echo "reusing the Wine prefix at $WINEPREFIX ($want)"
      exit 0
    fi
    rm -rf "$WINEPREFIX"
    mkdir -p "$(dirname "$WINEPREFIX")"
    start=$SECONDS
    if ! wineboot --init >"$WINEPREFIX.log" 2>&1; then
      cat "$WINEPREFIX.log"; echo "wineboot failed"; exit 1
    fi
    wineserver --wait
    echo "$want" >"$stamp"
    echo "fresh Wine prefix at $WINEPREFIX ($want) in $((SECONDS - start)) s"
    ;;

  run)
    wine_environment "$2"
    driver="$3" mex="$4" cases="$5"
    for file in "$driver" "$mex" "$cases"; do
      [[ -f "$file" ]] || { echo "missing $file"; exit 1; }
    done
    log="$(mktemp)"
    # The driver's folder holds the stand-in libmx.dll and libmex.dll.
    (cd "$(dirname "$driver")" && wine "$driver" "$mex" "$cases") >"$log" 2>&1
    status=$?
    wineserver --wait
    cat "$log"
    if ((status != 0)); then
      echo "the driver exited with status $status"; rm -f "$log"; exit 1
    fi
    if ! grep -q '^CORVANE WINE TEST PASSED' "$log"; then
      echo "the driver did not report success: it did not run, or not to the end"
      rm -f "$log"; exit 1
    fi
    rm -f "$log"
    ;;

  tables)
    status=0
    allowed_imports=$'KERNEL32.dll\nlibmex.dll\nlibmx.dll\nmsvcrt.dll'
    shift
    while (($# >= 2)); do
      objdump="$1" dll="$2"
      shift 2
      if ! dump="$("$objdump" -p "$dll")"; then
        echo "$dll: objdump failed"; status=1; continue
      fi
      imports="$(sed -n 's/^[[:space:]]*DLL Name: //p' <<<"$dump" | sort -u)"
      # Export names: the lines after "[Ordinal/Name Pointer] Table" up to
      # the next blank line, each "[   n] name".
      exports="$(awk '/\[Ordinal\/Name Pointer\] Table/ {on = 1; next}
                      on && /^[[:space:]]*$/ {on = 0}
                      on && /\[ *[0-9]+\]/ {print $NF}' <<<"$dump" | sort -u)"
      echo "$dll"
      echo "  imports from: $(tr '\n' ' ' <<<"$imports")"
      echo "  exports: $(tr '\n' ' ' <<<"$exports")"
      # DLL names are case-insensitive on Windows.
      lower() { tr '[:upper:]' '[:lower:]' | LC_ALL=C sort -u; }
      unexpected="$(LC_ALL=C comm -23 <(lower <<<"$imports") <(lower <<<"$allowed_imports"))"
      if [[ -z "$imports" || -n "$unexpected" ]]; then
        echo "  FAILED: imports from $(tr "\n" " " <<<"${unexpected:-nothing at all}")"; status=1
      fi
      if [[ "$exports" != "mexFunction" ]]; then
        echo "  FAILED: must export mexFunction alone"; status=1
      fi
    done
    exit "$status"
    ;;

  *)
    echo "usage: $0 prefix PREFIX | run PREFIX DRIVER MEX CASES | tables OBJDUMP DLL [OBJDUMP DLL...]" >&2
    exit 2
    ;;
esac
