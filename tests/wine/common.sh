# Shared by the Wine scripts: a fresh Wine prefix, serial ports mapped to pseudo-terminals, and the
# virtual register of a Linux build. Sourced, not run.

# Exit status that ctest counts as skipped.
readonly SKIP=77

skip() {
  echo "SKIPPED: $*"
  exit "$SKIP"
}

need_wine() {
  WINE=$(command -v wine64 || command -v wine || true)
  [[ -n $WINE ]] || skip "Wine is not installed"
  command -v wineserver >/dev/null || skip "wineserver is not installed"
}

# Everything a script makes goes in one scratch folder, removed at the end.
make_scratch() {
  SCRATCH=$(mktemp -d "${TMPDIR:-/tmp}/zelmo-wine.XXXXXX")
  REGISTER_PIDS=()  # the virtual registers and anything else to end with the script
  trap cleanup EXIT
}

cleanup() {
  local status=$?
  local pid
  if [[ -n ${WINEPREFIX:-} ]]; then
    wineserver -k >/dev/null 2>&1 || true
    wineserver -w >/dev/null 2>&1 || true
  fi
  for pid in "${REGISTER_PIDS[@]}"; do
    kill "$pid" 2>/dev/null || true
  done
  [[ ${ZELMO_KEEP_SCRATCH:-} == 1 ]] && echo "scratch kept: $SCRATCH" || rm -rf "$SCRATCH"
  exit "$status"
}

# Wine takes the system's ANSI code page from the locale: Macedonian (the default) gives 1251, as
# on the registers' own machines; ZELMO_WINE_LOCALE picks another. Wine needs the locale to be
# real, or it cannot name files in Cyrillic: one the system lacks is compiled into the scratch
# folder from its source (Debian package locales).
use_locale() {
  local wanted=${ZELMO_WINE_LOCALE:-mk_MK.UTF-8}
  local compiled=$SCRATCH/locale
  if locale -a 2>/dev/null | grep -qix "${wanted/UTF-8/utf8}"; then
    :
  elif [[ -d $compiled/$wanted ]] || { mkdir -p "$compiled" &&
    localedef -i "${wanted%%.*}" -f UTF-8 "$compiled/$wanted" >/dev/null 2>&1; }; then
    export LOCPATH=$compiled
  else
    echo "note: no locale $wanted here; Wine runs in C.UTF-8 (ANSI code page 1252)"
    wanted=C.UTF-8
  fi
  # The shell itself would complain of a locale it cannot see: only our children need it.
  { export LC_ALL=$wanted; } 2>/dev/null
}

# A fresh prefix of our own, without a display unless one is asked for: "display" keeps the
# X11 driver.
make_prefix() {
  export WINEPREFIX=$SCRATCH/prefix
  export WINEDEBUG=-all
  export WINEDLLOVERRIDES="mscoree,mshtml="
  use_locale
  wineboot -i >/dev/null 2>&1 || { echo "wineboot failed"; return 1; }
  wineserver -w
  if [[ ${1:-} != display ]]; then
    wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /t REG_SZ /d null /f >/dev/null 2>&1
  fi
}

# Maps COMn to a device; takes effect when the Wine server starts again (restart_wine).
map_port() {
  wine reg add 'HKLM\Software\Wine\Ports' /v "$1" /t REG_SZ /d "$2" /f >/dev/null 2>&1
}

# The server is started here, with its output discarded: it takes a mapped pseudo-terminal as
# its controlling terminal, and dumps its objects on the hang-up signal when the register ends.
restart_wine() {
  wineserver -k >/dev/null 2>&1 || true
  wineserver -w
  wineserver -p >/dev/null 2>&1
}

# The Linux build's programs, or a skip when there is none.
need_linux_build() {
  LINUX_BUILD=$1
  LINUX_ZELMO=$LINUX_BUILD/zelmo
  REGISTER=$LINUX_BUILD/tools/zelmo-register
  [[ -x $LINUX_ZELMO && -x $REGISTER ]] ||
    skip "no Linux build with zelmo and tools/zelmo-register in $LINUX_BUILD"
}

# Starts the virtual register with the given options; sets REGISTER_DEVICE to its
# pseudo-terminal. Its output goes to $SCRATCH/register-N.out.
start_register() {
  local n=${#REGISTER_PIDS[@]}
  local out=$SCRATCH/register-$n.out
  "$REGISTER" "$@" >"$out" 2>"$SCRATCH/register-$n.err" &
  REGISTER_PIDS+=($!)
  local tries=0
  until [[ -s $out ]] && REGISTER_DEVICE=$(head -n 1 "$out") && [[ -n $REGISTER_DEVICE ]]; do
    ((++tries < 100)) || { echo "the virtual register did not start"; return 1; }
    sleep 0.05
  done
}

# Waits for a process up to $2 seconds; its exit status, or 124 when it had to be killed.
wait_for() {
  local pid=$1 limit=$2 waited=0
  while kill -0 "$pid" 2>/dev/null; do
    if ((waited >= limit * 10)); then
      kill "$pid" 2>/dev/null || true
      wait "$pid" 2>/dev/null || true
      return 124
    fi
    sleep 0.1
    ((++waited))
  done
  local status=0
  wait "$pid" || status=$?
  return "$status"
}

# A receipt in code page 1251: two items with Cyrillic names ("Млеко", "Леб"), tax groups б and A.
write_receipt() {
  printf '\xcc\xeb\xe5\xea\xee;2;\xe1;45.5\r\n\xcb\xe5\xe1;1.5;A;2.499\r\n' >"$1/smetka.txt"
}

# zelmo's settings: hidden or shown, receipt deleted after the job.
write_config() {
  local folder=$1 shown=$2 device=${3:-}
  printf '[Parametri]\r\nSeriska=1\r\nPrikaziForma=%s\r\nDelimiter=;\r\nClear=1\r\n' "$shown" \
    >"$folder/Zelmocfg.ini"
  if [[ -n $device ]]; then
    printf '[Ports]\r\nCOM1=%s\r\n' "$device" >>"$folder/Zelmocfg.ini"
  fi
}

# Prints the receipt's bytes as the Linux program sends them, recorded by the virtual register,
# into $1. The reference every Windows run is held to.
linux_reference() {
  local out=$1 folder=$SCRATCH/linux
  mkdir -p "$folder"
  write_receipt "$folder"
  start_register --record "$out" --timeout 60
  write_config "$folder" 0 "$REGISTER_DEVICE"
  local status=0
  "$LINUX_ZELMO" --console --dir "$folder" </dev/null >"$SCRATCH/linux.events" \
    2>"$SCRATCH/linux.err" || status=$?
  if ((status != 0)); then
    echo "the Linux zelmo ended with $status:"
    cat "$SCRATCH/linux.err"
    return 1
  fi
}

# The start of an end-to-end script, from its arguments (zelmo.exe, a Linux build's folder):
# EXE is the program under test; skips without Wine or without the Linux build.
need_exe_and_linux_build() {
  EXE=$(realpath "$1")
  need_wine
  need_linux_build "$2"
}

# The opening of a script that holds zelmo.exe to the Linux program: the programs (as
# need_exe_and_linux_build), the scratch folder, and the Linux program's bytes for the receipt in
# $SCRATCH/linux.bin.
begin_against_linux() {
  need_exe_and_linux_build "$@"
  make_scratch
  linux_reference "$SCRATCH/linux.bin"
}

# A job's folder with its receipt and settings: hidden (0) or shown (1), the receipt deleted after
# the job.
make_job_folder() {
  mkdir -p "$1"
  write_receipt "$1"
  write_config "$1" "$2"
}

# The virtual register, with the given options, as COM1 of the Wine server started here;
# REGISTER_PID is its process.
register_as_com1() {
  start_register "$@"
  REGISTER_PID=${REGISTER_PIDS[-1]}
  map_port COM1 "$REGISTER_DEVICE"
  restart_wine
}

# A failed check is said and counted, and the checks go on: end_checks exits 1 if any failed.
FAILED=0
fail() {
  echo "FAIL: $*"
  FAILED=1
}
end_checks() {
  ((FAILED == 0)) || exit 1
}

# The checks of a job that went out: zelmo.exe ($1, as the messages name it) ended with status $2,
# which must be 0; the register recorded in $3 the bytes the Linux program sent
# ($SCRATCH/linux.bin); the receipt in folder $4 was deleted (Clear=1).
check_job_sent() {
  local who=$1 status=$2 sent=$3 folder=$4
  if ((status != 0)); then
    fail "$who ended with status $status"
    cat "$SCRATCH/win.err"
  fi
  if ! cmp -s "$SCRATCH/linux.bin" "$sent"; then
    fail "the register received other bytes from zelmo.exe than from the Linux zelmo"
    cmp "$SCRATCH/linux.bin" "$sent" || true
  fi
  [[ ! -e $folder/smetka.txt ]] || fail "smetka.txt was not deleted after the job (Clear=1)"
}
