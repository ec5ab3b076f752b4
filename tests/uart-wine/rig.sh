# The Windows half of the UART rig, sourced by tests/uart-wine/run: zelmo.exe under Wine in a
# QEMU guest (no KVM needed), on the kernel's 8250 driver, with COM1 mapped to the guest's
# /dev/ttyS1, the register's line, which QEMU serves on a Unix socket in Telnet (so that a break
# can cross it). Wine and its libraries are on an ext4 image on virtio-blk, with a Wine prefix made
# here on the host; that image and the cloud kernel with its modules are kept in
# $ZELMO_RIG_CACHE/wine (default ~/.cache/zelmo-uart-rig/wine). Everything works without them,
# only slower: the image takes a few minutes to make.

wrig_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# The Linux rig's kernel download and boot loop.
source "$wrig_dir/../uart/rig.sh"
wrig_cache=$rig_cache/wine

wrig_log() { echo "uart-wine: $*" >&2; }

# The virtio modules that reach the root image, in the order they load.
wrig_modules=(virtio_ring virtio virtio_pci_modern_dev virtio_pci_legacy_dev virtio_pci virtio_blk)

# Makes $wrig_cache/kernel/vmlinuz and its modules, downloading the cloud kernel's package once.
wrig_kernel() {
  local dir=$wrig_cache/kernel
  [[ -f $dir/vmlinuz && -f $dir/virtio_blk.ko ]] && return 0
  local unpack
  unpack=$(mktemp -d)
  rig_unpack_kernel "$unpack" || { rm -rf "$unpack"; return 1; }
  mkdir -p "$dir"
  cp "$unpack"/root/boot/vmlinuz-* "$dir/vmlinuz"
  local module file
  for module in "${wrig_modules[@]}"; do
    file=$(find "$unpack/root/lib/modules" -name "$module.ko*" | head -n 1)
    [[ -n $file ]] || { wrig_log "the kernel has no module $module"; rm -rf "$unpack"; return 1; }
    case $file in
      *.xz) xz -dc "$file" >"$dir/$module.ko" ;;
      *.zst) zstd -qdc "$file" >"$dir/$module.ko" ;;
      *) cp "$file" "$dir/$module.ko" ;;
    esac
  done
  rm -rf "$unpack"
}

# Copies a file and, for a program or library, every library it needs, into the stage $1.
wrig_copy() {
  local stage=$1 file=$2 lib
  if [[ ! -e $stage$file ]]; then
    mkdir -p "$stage$(dirname "$file")"
    cp -aL "$file" "$stage$file"
  fi
  for lib in $(ldd "$file" 2>/dev/null | grep -o '/[^ ]*' || true); do
    [[ $lib == *libfreetype* ]] && continue  # with it Wine starts explorer.exe over and over
    if [[ ! -e $stage$lib ]]; then
      mkdir -p "$stage$(dirname "$lib")"
      cp -L "$lib" "$stage$lib"
    fi
  done
}

# The Wine prefix, at the path it has in the guest too: COM1 is the guest's /dev/ttyS1, no
# display driver.
wrig_prefix() {
  local prefix=$1
  rm -rf "$prefix"
  mkdir -p "$(dirname "$prefix")"
  (
    export WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
    wineboot -i >/dev/null 2>&1
    wineserver -w
    wine reg add 'HKLM\Software\Wine\Ports' /v COM1 /t REG_SZ /d /dev/ttyS1 /f >/dev/null 2>&1
    wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /t REG_SZ /d null /f >/dev/null 2>&1
    wineserver -w
  )
  # Wine had pointed com1 at the host's first port.
  ln -sfn /dev/ttyS1 "$prefix/dosdevices/com1"
}

# Prints the path of the root image: busybox, Wine with its libraries, and the prefix. Kept in the
# cache under the Wine version and the functions that make it.
wrig_root() {
  local key
  key=$( (wine --version 2>/dev/null; declare -f wrig_root wrig_copy wrig_prefix) | sha256sum |
    cut -c1-16)
  local image=$wrig_cache/root-$key.ext4
  if [[ -f $image ]]; then
    echo "$image"
    return 0
  fi
  wrig_log "making the Wine root image (once; it is kept in $wrig_cache)"
  local started=$SECONDS stage=$wrig_cache/stage
  rm -rf "$stage" "$wrig_cache"/root-*.ext4
  mkdir -p "$stage"/{bin,etc,proc,sys,dev,mnt,tmp,root,rig}
  cp /bin/busybox "$stage/bin/busybox"
  local file
  for file in /usr/lib/wine/wine64 /usr/lib/wine/wine64-preloader /usr/lib/wine/wineserver64 \
    /usr/lib/x86_64-linux-gnu/libgcc_s.so.1 /lib64/ld-linux-x86-64.so.2; do
    [[ -e $file ]] && wrig_copy "$stage" "$file"
  done
  mkdir -p "$stage/usr/lib/x86_64-linux-gnu" "$stage/usr/share" "$stage/usr/lib/wine"
  cp -a /usr/lib/wine/. "$stage/usr/lib/wine/"
  cp -a /usr/lib/x86_64-linux-gnu/wine "$stage/usr/lib/x86_64-linux-gnu/"
  cp -a /usr/share/wine "$stage/usr/share/"
  # The display, sound and media drivers are never loaded without a display: their libraries
  # stay out.
  for file in /usr/lib/x86_64-linux-gnu/wine/x86_64-unix/*.so; do
    case ${file##*/} in
      winex11.so | winegstreamer.so | winepulse.so | winealsa.so | winevulkan.so | opengl32.so |\
        gphoto2.so | opencl.so | qcap.so | avicap32.so | odbc32.so | wpcap.so | capi2032.so) ;;
      *) wrig_copy "$stage" "$file" ;;
    esac
  done
  cp /etc/ld.so.cache /etc/passwd /etc/group "$stage/etc/"
  # The prefix lives at one path on the host and in the guest.
  local prefix=$wrig_cache/prefix
  wrig_prefix "$prefix" || { wrig_log "could not make the Wine prefix"; return 1; }
  mkdir -p "$stage$(dirname "$prefix")"
  cp -a "$prefix" "$stage$prefix"
  mkfs.ext4 -q -F -d "$stage" "$image.part" 3G >/dev/null || { wrig_log "mkfs.ext4 failed"; return 1; }
  mv "$image.part" "$image"
  rm -rf "$stage"
  wrig_log "root image made in $((SECONDS - started)) s"
  echo "$image"
}

# wrig_initrd ZELMO_EXE RECEIPT STEP... : prints the path of a small initramfs with busybox, the
# virtio modules, the program, the receipt and the plan of steps (made anew each run).
wrig_initrd() {
  local exe=$1 receipt=$2
  shift 2
  local stage
  stage=$(mktemp -d)
  mkdir -p "$stage"/{bin,rig,proc,sys,dev,mnt,modules}
  cp /bin/busybox "$stage/bin/busybox"
  cp "$wrig_dir/guest-init" "$stage/init"
  cp "$wrig_dir/guest-step" "$stage/rig/"
  cp "$exe" "$stage/rig/zelmo.exe"
  cp "$receipt" "$stage/rig/smetka.txt"
  printf '%s\n' "$@" >"$stage/rig/plan"
  echo "$wrig_cache/prefix" >"$stage/rig/prefix"
  local module
  for module in "${wrig_modules[@]}"; do cp "$wrig_cache/kernel/$module.ko" "$stage/modules/"; done
  printf '%s\n' "${wrig_modules[@]}" >"$stage/modules/order"
  local image=$wrig_cache/initrd.gz
  (cd "$stage" && find . | cpio -o -H newc --quiet | gzip -1) >"$image"
  rm -rf "$stage"
  echo "$image"
}

# wrig_boot ROOT INITRD SOCKET ON_READY : the rig's boot (rig_boot) with the cloud kernel and its
# modules, the root image on virtio-blk (written to a snapshot, never to the image), more memory
# and time, and no network.
wrig_boot() {
  local root=$1 initrd=$2 socket=$3 on_ready=$4
  local ZELMO_RIG_TIMEOUT=${ZELMO_RIG_TIMEOUT:-600}
  # smap=off: with it on, every Wine process dies of a page fault under TCG.
  rig_boot "$wrig_cache/kernel/vmlinuz" "$initrd" "$socket" "$on_ready" -m 2048 -smp 2 \
    -cpu max,smap=off -nic none -drive "file=$root,format=raw,if=virtio,snapshot=on"
}
