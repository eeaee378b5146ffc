#!/usr/bin/env bash
# The Wine side of the Windows MEX tests (called by CTest).
#
#   wine-test.sh prefix PREFIX WINE64
#       makes a fresh 64-bit Wine prefix, or keeps the one a previous run
#       made with the same Wine
#   wine-test.sh run PREFIX WINE64 BITS DRIVER.exe MEXFILE CASEFILE
#       runs the test driver (a BITS = 64 or 32-bit Windows program) on a MEX
#       file; passes only on the driver's success line, because a Windows
#       program Wine could not start may still leave exit status 0. A 32-bit
#       run is skipped (exit status 77, with the reason) where wine32 is not
#       installed or this machine's kernel cannot execute 32-bit x86 programs.
#   wine-test.sh tables OBJDUMP64 MEXW64 OBJDUMP32 MEXW32
#       fails unless each DLL imports from libmx.dll, libmex.dll, KERNEL32.dll
#       and msvcrt.dll only and exports mexFunction alone
#
# WINE64 is the 64-bit loader (Debian: /usr/lib/wine/wine64, not on PATH).
# The 32-bit loader sits beside it without the "64"; /usr/bin/wine and
# wineboot start that one whenever wine32 is installed, so they fail where
# the kernel cannot run it. 64-bit programs and the prefix therefore go
# through WINE64 directly.
set -uo pipefail

skip_status=77

wine_environment() {
  export WINEPREFIX="$1" WINEARCH=win64 WINEDEBUG=-all
  # Wine wants a home folder; CI may run without one set.
  export HOME="${HOME:-$(dirname "$1")}"
  # No display, and no prompts to install Wine's Mono and Gecko.
  unset DISPLAY WAYLAND_DISPLAY
  export WINEDLLOVERRIDES="mscoree,mshtml="
}

# Whether the 32-bit loader beside WINE64 runs: prints "yes", or the reason
# it cannot ("missing: ...", "kernel: ...", "broken: ..."), the last one a
# fault of the installation rather than of the machine.
wine32_state() {
  local loader="${1%64}" output status
  if [[ ! -e "$loader" ]]; then
    echo "missing: wine32 (Debian's wine32:i386) is not installed; scripts/install-deps.sh test installs it"
    return
  fi
  output="$("$loader" --version 2>&1)"
  status=$?
  if ((status == 0)); then
    echo yes
  elif [[ "$output" == *"Exec format error"* || "$output" == *"cannot execute binary file"* ]]; then
    echo "kernel: this machine's kernel cannot execute 32-bit x86 programs ($loader: Exec format error)"
  else
    echo "broken: the 32-bit Wine loader $loader does not start: $output"
  fi
}

case "${1:-}" in
  prefix)
    wine_environment "$2"
    wine64="$3"
    export WINELOADER="$wine64"
    # One prefix per build tree, made anew whenever Wine changed since, in
    # particular when wine32 became usable: a prefix made without it cannot
    # run 32-bit programs.
    state32="$(wine32_state "$wine64")"
    stamp="$WINEPREFIX/corvane-prefix-stamp"
    want="$("$wine64" --version) wine32=${state32%%:*}"
    if [[ -f "$stamp" && "$(cat "$stamp")" == "$want" ]]; then
      echo "reusing the Wine prefix at $WINEPREFIX ($want)"
      exit 0
    fi
    rm -rf "$WINEPREFIX"
    mkdir -p "$(dirname "$WINEPREFIX")"
    start=$SECONDS
    if ! "$wine64" wineboot.exe --init >"$WINEPREFIX.log" 2>&1; then
      cat "$WINEPREFIX.log"; echo "wineboot failed"; exit 1
    fi
    wineserver --wait
    echo "$want" >"$stamp"
    echo "fresh Wine prefix at $WINEPREFIX ($want) in $((SECONDS - start)) s"
    ;;

  run)
    wine_environment "$2"
    wine64="$3" bits="$4" driver="$5" mex="$6" cases="$7"
    for file in "$driver" "$mex" "$cases"; do
      [[ -f "$file" ]] || { echo "missing $file"; exit 1; }
    done
    if [[ "$bits" == 32 ]]; then
      state32="$(wine32_state "$wine64")"
      case "$state32" in
        yes) loader="${wine64%64}" ;;
        missing:*|kernel:*) echo "SKIPPED: ${state32#*: }"; exit "$skip_status" ;;
        *) echo "${state32#*: }"; exit 1 ;;
      esac
    else
      loader="$wine64"
      export WINELOADER="$wine64"
    fi
    log="$(mktemp)"
    # The driver's folder holds the stand-in libmx.dll and libmex.dll.
    (cd "$(dirname "$driver")" && "$loader" "$driver" "$mex" "$cases") >"$log" 2>&1
    status=$?
    wineserver --wait
    cat "$log"
    if ((status != 0)); then
      echo "the driver exited with status $status"; rm -f "$log"; exit 1
    fi
    if ! grep -q "^CORVANE WINE TEST PASSED: .*, $bits-bit" "$log"; then
      echo "the driver did not report success as a $bits-bit program: it did not run, or not to the end"
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
    echo "usage: $0 prefix PREFIX WINE64 | run PREFIX WINE64 BITS DRIVER MEX CASES |" \
         "tables OBJDUMP DLL [OBJDUMP DLL...]" >&2
    exit 2
    ;;
esac
