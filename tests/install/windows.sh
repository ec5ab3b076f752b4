#!/usr/bin/env bash
# The Windows packages under Wine, as a till gets them: the installer run silently into its
# default folder, a hidden job printed through the installed zelmo.exe on COM1 (the virtual
# register on a pseudo-terminal), the guide's batch file run under Wine's cmd on a second job,
# the silent uninstaller (what it installed goes, the shop's settings, receipts and logs stay),
# then the portable zip unpacked and its program run once, an installation into a folder of its
# own with /D= and its uninstallation, and last the print service: installed silently with
# /SERVICE, queried, stopped and started with sc, a job printed through HTTP on COM1, stopped,
# and removed by the uninstaller.
#   windows.sh zelmo-VERSION-setup.exe zelmo-VERSION-win64.zip docs/integrating.md LINUX_BUILD
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../wine/common.sh"
source "$here/guide_example.sh"
source "$here/service_http.sh"
setup=$(realpath "$1")
zip=$(realpath "$2")
guide=$(realpath "$3")
version=$(basename "$setup")
version=${version#zelmo-}
version=${version%-setup.exe}

need_wine
need_linux_build "$4"
command -v unzip >/dev/null || skip "unzip is not installed"
make_scratch
make_prefix
drive=$WINEPREFIX/drive_c
folder=$drive/Zelmo
menu="$drive/ProgramData/Microsoft/Windows/Start Menu/Programs/Zelmo.lnk"
key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Zelmo'

failed=0
fail() {
  echo "FAIL: $*"
  failed=1
}

# Runs a Windows program and waits for it; its exit status.
run_windows() {
  local status=0
  "$WINE" "$@" </dev/null &
  wait_for $! 180 || status=$?
  return "$status"
}

# A value of the uninstall entry, or nothing.
entry() {
  "$WINE" reg query "$key" /v "$1" 2>/dev/null | tr -d '\r' |
    sed -n "s/^ *$1 *REG_[A-Z]* *//p"
}

# A fresh virtual register on COM1, for one job.
register_on_com1() {
  start_register --timeout 60
  map_port COM1 "$REGISTER_DEVICE"
  restart_wine
}

echo "== $(basename "$setup") /S"
run_windows "$setup" /S || fail "the installer ended with $?"
for file in zelmo.exe integrating.md LICENSE.txt uninstall.exe; do
  [[ -f $folder/$file ]] || fail "C:\\Zelmo\\$file is not installed"
done
[[ -f $menu ]] || fail "no Start-menu shortcut"
[[ $(entry DisplayName) == Zelmo ]] || fail "no Add/Remove Programs entry named Zelmo"
[[ $(entry DisplayVersion) == "$version" ]] || fail "the entry's version is '$(entry DisplayVersion)'"
[[ $(entry Publisher) == Zelmo ]] || fail "the entry names no publisher"
[[ $(entry DisplayIcon) == 'C:\Zelmo\zelmo.exe,0' ]] || fail "the entry has no icon"
[[ $(entry EstimatedSize) =~ ^0x[0-9a-f]+$ && $(entry EstimatedSize) != 0x0 ]] ||
  fail "the entry has no size"
# The file's properties carry the same version text (UTF-16 in the version resource).
strings -e l "$folder/zelmo.exe" | grep -qx "$version" || fail "zelmo.exe's properties lack $version"

echo "== a hidden job through the installed C:\\Zelmo\\zelmo.exe"
write_receipt "$folder"
write_config "$folder" 0
register_on_com1
status=0
run_windows 'C:\Zelmo\zelmo.exe' >"$SCRATCH/installed.out" 2>&1 || status=$?
wait_for "${REGISTER_PIDS[-1]}" 10 || true
((status == 0)) || { fail "the installed zelmo.exe ended with $status"; cat "$SCRATCH/installed.out"; }
[[ ! -e $folder/smetka.txt ]] || fail "the printed receipt was not deleted (Clear=1)"
grep -q "ВКУПНО 94.75" "$SCRATCH/register-0.out" ||
  { fail "the register did not print the receipt:"; cat "$SCRATCH/register-0.out"; }

echo "== the guide's batch file under Wine's cmd"
guide_example "$guide" bat "$SCRATCH/print.bat"
sed -i 's/$/\r/' "$SCRATCH/print.bat"
cp "$SCRATCH/print.bat" "$drive/print.bat"
write_receipt "$folder"
register_on_com1
status=0
# Output to files, not to a pipe: Wine's own background processes would hold a pipe open.
run_windows cmd /c 'C:\print.bat' 'C:\Zelmo\zelmo.exe' >"$SCRATCH/batch.out" 2>&1 ||
  status=$?
wait_for "${REGISTER_PIDS[-1]}" 10 || true
output=$(tr -d '\r' <"$SCRATCH/batch.out")
[[ $status == 0 && $output == printed ]] ||
  fail "the batch file ended with $status, saying: $output"
grep -q "ВКУПНО 94.75" "$SCRATCH/register-1.out" ||
  { fail "the register did not print the batch file's receipt:"; cat "$SCRATCH/register-1.out"; }
# The batch file must see the program's own status, not start's: stand-ins for zelmo.exe (a
# failing zelmo would wait for the operator to close its message box) end with 7 and 10.
for expected in "7 1 not printed (status 7): correct it and print again" \
  "10 2 zelmo ended with 10: check the register before printing again."; do
  read -r code batch_status text <<<"$expected"
  printf 'int main(void) { return %s; }\n' "$code" >"$SCRATCH/exit_$code.c"
  x86_64-w64-mingw32-gcc-posix -mwindows -o "$drive/exit_$code.exe" "$SCRATCH/exit_$code.c" ||
    { fail "no stand-in program could be built"; continue; }
  status=0
  run_windows cmd /c 'C:\print.bat' "C:\\exit_$code.exe" >"$SCRATCH/batch.out" 2>&1 ||
    status=$?
  output=$(tr -d '\r' <"$SCRATCH/batch.out")
  [[ $status == "$batch_status" && $output == "$text" ]] ||
    fail "the batch file, the program ending with $code: status $status, saying: $output"
done

echo "== uninstall.exe /S"
# What the shop made beside the program: settings, a waiting receipt, a log.
write_receipt "$folder"
echo "till log" >"$folder/zelmo.log"
run_windows 'C:\Zelmo\uninstall.exe' /S || fail "the uninstaller ended with $?"
# It goes on from a copy of itself in the temporary folder; its last step takes the entry.
for ((waited = 0; waited < 120; waited++)); do
  "$WINE" reg query "$key" >/dev/null 2>&1 || break
  sleep 0.5
done
for file in zelmo.exe integrating.md LICENSE.txt uninstall.exe; do
  [[ ! -e $folder/$file ]] || fail "C:\\Zelmo\\$file is left after uninstalling"
done
[[ ! -e $menu ]] || fail "the Start-menu shortcut is left"
"$WINE" reg query "$key" >/dev/null 2>&1 && fail "the Add/Remove Programs entry is left"
for file in Zelmocfg.ini smetka.txt zelmo.log; do
  [[ -f $folder/$file ]] || fail "the uninstaller took the shop's $file"
done

echo "== $(basename "$zip"): unpacked, run once"
mkdir -p "$drive/Portable"
unzip -q "$zip" -d "$drive/Portable"
portable="$drive/Portable/zelmo-$version-win64"
for file in zelmo.exe integrating.md LICENSE.txt; do
  [[ -f $portable/$file ]] || fail "the zip has no zelmo-$version-win64/$file"
done
run_windows "C:\\Portable\\zelmo-$version-win64\\zelmo.exe" --version >"$SCRATCH/zip.out" 2>&1 ||
  fail "the zip's zelmo.exe --version ended with $?"
output=$(tr -d '\r' <"$SCRATCH/zip.out")
[[ $output == "zelmo $version" ]] ||
  fail "the zip's zelmo.exe says '$output', not 'zelmo $version'"

echo "== $(basename "$setup") /S /D=C:\\Shop\\Till, then its uninstaller"
run_windows "$setup" /S '/D=C:\Shop\Till' || fail "the installer with /D= ended with $?"
[[ -f $drive/Shop/Till/zelmo.exe && $(entry InstallLocation) == 'C:\Shop\Till' ]] ||
  fail "/D= did not choose the folder"
run_windows 'C:\Shop\Till\uninstall.exe' /S || fail "the uninstaller ended with $?"
for ((waited = 0; waited < 120; waited++)); do
  [[ -e $drive/Shop/Till ]] || break
  sleep 0.5
done
# Nothing of the shop's was there: the folder goes too.
[[ ! -e $drive/Shop/Till ]] || fail "C:\\Shop\\Till is left after uninstalling"

echo "== $(basename "$setup") /S /SERVICE: the print service"
# The register and its port first: mapping a port restarts Wine, which would end the service.
start_register --timeout 120
map_port COM1 "$REGISTER_DEVICE"
restart_wine
port=$(free_port)
write_config "$folder" 0
printf '[Service]\r\nListen=127.0.0.1:%s\r\n' "$port" >>"$folder/Zelmocfg.ini"
run_windows "$setup" /S /SERVICE || fail "the installer with /SERVICE ended with $?"
services='HKLM\System\CurrentControlSet\Services\zelmo'
setting() {
  "$WINE" reg query "$services" /v "$1" 2>/dev/null | tr -d '\r' |
    sed -n "s/^ *$1 *REG_[A-Z]* *//p"
}
[[ $(setting Type) == 0x10 ]] || fail "the service is not a process of its own: '$(setting Type)'"
[[ $(setting Start) == 0x2 ]] || fail "the service does not start with Windows: '$(setting Start)'"
[[ $(setting ImagePath) == 'C:\Zelmo\zelmo.exe --service run --dir C:\Zelmo' ]] ||
  fail "the service runs '$(setting ImagePath)'"
[[ $(setting DisplayName) == "Zelmo print service" ]] || fail "the service has no display name"
[[ -n $(setting Description) ]] || fail "the service has no description"
# The state sc reports: RUNNING, STOPPED...; nothing when there is no such service.
state() {
  "$WINE" sc query zelmo 2>/dev/null | tr -d '\r' |
    sed -n 's/^ *STATE *: *[0-9]* *\([A-Z_]*\).*$/\1/p'
}
# Waits up to $2 seconds for the state $1.
wait_state() {
  local tries
  for ((tries = 0; tries < $2 * 2; tries++)); do
    [[ $(state) == "$1" ]] && return 0
    sleep 0.5
  done
  return 1
}
wait_state RUNNING 30 || fail "the installer did not start the service: '$(state)'"
wait_health "$port" 0 || fail "the service started by the installer does not answer /v1/health"
"$WINE" sc stop zelmo >/dev/null 2>&1
wait_state STOPPED 30 || fail "sc stop did not stop the service: '$(state)'"
http GET "http://127.0.0.1:$port/v1/health" >/dev/null 2>&1 && fail "the stopped service still answers"
"$WINE" sc start zelmo >/dev/null 2>&1
wait_state RUNNING 30 || fail "sc start did not start the service: '$(state)'"
if ! wait_health "$port" 0; then
  fail "the service started with sc does not answer /v1/health"
  cat "$folder/zelmo-service.log" 2>/dev/null
elif ! print_job "$port" wine-service-1 >"$SCRATCH/job.json"; then
  fail "$(cat "$SCRATCH/job.json")"
else
  wait_for "${REGISTER_PIDS[-1]}" 10 || true
  grep -q "ВКУПНО 94.75" "$SCRATCH/register-$((${#REGISTER_PIDS[@]} - 1)).out" ||
    fail "the register did not print the service's job"
fi
"$WINE" sc stop zelmo >/dev/null 2>&1
wait_state STOPPED 30 || fail "sc stop did not stop the service after its job: '$(state)'"
run_windows 'C:\Zelmo\uninstall.exe' /S || fail "the uninstaller ended with $?"
for ((waited = 0; waited < 120; waited++)); do
  [[ -e $folder/zelmo.exe ]] || break
  sleep 0.5
done
"$WINE" sc query zelmo >/dev/null 2>&1 && fail "the uninstaller left the service"
[[ ! -e $folder/zelmo.exe ]] || fail "the uninstaller left zelmo.exe beside the service's jobs"

((failed == 0)) || exit 1
echo "OK: installed, printed twice (directly and through the guide's batch file), uninstalled," \
  "the shop's files kept; the zip's zelmo.exe is $version; /D= chose another folder; the" \
  "print service installed with /SERVICE, stopped and started with sc, printed over HTTP, removed"
