#!/usr/bin/env bash
# Runs a Windows test program of a cross build under Wine (CMake's cross-compiling emulator),
# in one Wine prefix per build folder, made on first use. Exits 77 (skipped) without Wine.
#   wine-exec.sh program.exe [arguments...]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/common.sh"
need_wine

# The build folder is the nearest one above the program that holds CMakeCache.txt.
build=$(cd "$(dirname "$1")" && pwd)
while [[ $build != / && ! -e $build/CMakeCache.txt ]]; do build=$(dirname "$build"); done
SCRATCH=$build/wine
mkdir -p "$SCRATCH"
exec 9>"$SCRATCH/lock"
flock 9
if [[ ! -e $SCRATCH/prefix/system.reg ]]; then
  make_prefix >/dev/null
else
  export WINEPREFIX=$SCRATCH/prefix WINEDEBUG=-all
  use_locale >/dev/null
fi
flock -u 9
exec "$WINE" "$@"
