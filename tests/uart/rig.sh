# The UART rig, sourced by scripts/uart-rig and tests/uart/run: Debian's cloud kernel in QEMU
# (no KVM needed), a busybox initramfs holding the bridge, the console on ttyS0 and the register's
# line on ttyS1, which QEMU serves on a Unix socket in Telnet (so that a break can cross it).
# The kernel package and the images are kept in $ZELMO_RIG_CACHE (default ~/.cache/zelmo-uart-rig);
# everything works without them, only slower.

rig_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
rig_cache=${ZELMO_RIG_CACHE:-${XDG_CACHE_HOME:-${HOME:-/var/cache}/.cache}/zelmo-uart-rig}

rig_log() { echo "uart-rig: $*" >&2; }

# Prints the path of the cloud kernel, downloading its package once.
rig_kernel() {
  local dl="$rig_cache/kernel"
  mkdir -p "$dl"
  local kernel
  kernel=$(ls "$dl"/vmlinuz-* 2>/dev/null | head -n1)
  if [[ -z $kernel ]]; then
    local unpack status=0
    unpack=$(mktemp -d)
    rig_unpack_kernel "$unpack" && cp "$unpack"/root/boot/vmlinuz-* "$dl/" || status=1
    rm -rf "$unpack"
    ((status == 0)) || return 1
    kernel=$(ls "$dl"/vmlinuz-* | head -n1)
  fi
  echo "$kernel"
}

# Unpacks the cloud kernel's package into $1/root (`apt-get download`: no install, nothing
# changes on the host). Package lists that are missing or stale name a kernel the archive no
# longer has: then they are brought up to date and the download tried once more.
rig_unpack_kernel() {
  rig_fetch_kernel "$1" || { apt-get update -qq >&2 && rig_fetch_kernel "$1"; }
}

rig_fetch_kernel() {
  local unpack=$1 package
  package=$(apt-cache depends linux-image-cloud-amd64 2>/dev/null |
    awk '/Depends: linux-image-/ { print $2; exit }')
  [[ -n $package ]] || { rig_log "no cloud kernel package in the package lists"; return 1; }
  rig_log "downloading $package"
  if ! (cd "$unpack" && apt-get download "$package" >/dev/null 2>&1 && dpkg-deb -x ./*.deb root); then
    rig_log "could not download $package"
    rm -rf "${unpack:?}"/*
    return 1
  fi
}

# rig_image ZELMO RECEIPT STEP... : prints the path of an initramfs with busybox, the program
# and the libraries it names, the receipt and the plan of steps. Kept in the cache by content.
rig_image() {
  local zelmo=$1 receipt=$2
  shift 2
  local stage
  stage=$(mktemp -d)
  mkdir -p "$stage"/{bin,rig,proc,sys,dev,tmp}
  cp /bin/busybox "$stage/bin/busybox"
  cp "$rig_dir/guest-init" "$stage/init"
  cp "$rig_dir/guest-step" "$stage/rig/guest-step"
  cp "$zelmo" "$stage/rig/zelmo"
  cp "$receipt" "$stage/rig/smetka.txt"
  printf '%s\n' "$@" >"$stage/rig/plan"
  local lib
  # busybox-static needs none; a dynamic busybox gets its own.
  for lib in $( (ldd "$zelmo"; ldd /bin/busybox 2>/dev/null || true) | grep -o '/[^ ]*' | sort -u); do
    mkdir -p "$stage$(dirname "$lib")"
    cp -L "$lib" "$stage$lib"
  done
  local key
  key=$(cd "$stage" && find . -type f | sort | xargs sha256sum | sha256sum | cut -c1-16)
  local image="$rig_cache/images/initrd-$key.gz"
  if [[ ! -f $image ]]; then
    mkdir -p "$rig_cache/images"
    # Only the last few images are worth keeping.
    ls -t "$rig_cache"/images/initrd-*.gz 2>/dev/null | tail -n +6 | xargs -r rm -f
    (cd "$stage" && find . | cpio -o -H newc --quiet | gzip -1) >"$image.part"
    mv "$image.part" "$image"
  fi
  rm -rf "$stage"
  echo "$image"
}

# rig_boot KERNEL IMAGE SOCKET ON_READY [QEMU-ARG...] : boots the guest and prints its console.
# On each "@@ready STEP" line it calls ON_READY STEP, then tells the guest to go on. Ends when the
# guest powers off; the time-out is generous because the machine may be shared and there is no
# KVM (ZELMO_RIG_TIMEOUT seconds, 240 unless set). Further QEMU arguments (a disk, more memory:
# the last -m counts) go after the rig's own.
rig_boot() {
  local kernel=$1 image=$2 socket=$3 on_ready=$4
  local extra=("${@:5}")
  rm -f "$socket"
  coproc QEMU {
    exec timeout "${ZELMO_RIG_TIMEOUT:-240}" qemu-system-x86_64 -nographic -no-reboot -m 256 -kernel "$kernel" \
      -initrd "$image" -append "console=ttyS0 panic=-1 quiet" -monitor none \
      -chardev stdio,id=console -serial chardev:console \
      -chardev "socket,id=register,path=$socket,server=on,wait=off,telnet=on" \
      -serial chardev:register "${extra[@]}" 2>&1
  }
  local qemu_pid=$QEMU_PID line
  # A caller that ends its helpers when it is cut short (tests/wine/common.sh) ends QEMU too.
  if declare -p REGISTER_PIDS >/dev/null 2>&1; then REGISTER_PIDS+=("$qemu_pid"); fi
  exec {rig_qemu_in}>&"${QEMU[1]}" {rig_qemu_out}<&"${QEMU[0]}"
  while IFS= read -r line <&"$rig_qemu_out"; do
    line=${line%$'\r'}
    echo "$line"
    # The firmware's screen codes may come before the first line.
    if [[ $line == *"@@ready "* ]]; then
      line=${line##*@@ready }
      "$on_ready" "$line" >&2
      echo go >&"$rig_qemu_in"
    fi
  done
  exec {rig_qemu_in}>&- {rig_qemu_out}<&-
  wait "$qemu_pid" 2>/dev/null
}
