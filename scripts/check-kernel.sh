#!/usr/bin/env bash
# The drive layer on a real kernel: boots a small Linux guest in QEMU (TCG, no KVM needed) with
# SCSI CD/DVD drives on virtio-scsi, and runs dravix-cli in it against the kernel's sr and sg
# drivers, as root and as an ordinary user (tests/kernel/scenarios.sh). Drive 0 holds a small ISO
# image; drives 1 to 3 hold a data image of known bytes for the read test: 1 and 2 behind QEMU's
# read throttling at 2X and 4X, 3 behind blkdebug rules that fail chosen sectors. The transcript
# must equal tests/kernel/expected.txt.
#   check-kernel.sh [DRAVIX_CLI]   by default a dravix-cli built without the GUI (build-nogui/), so
#                                  that the guest needs no Qt; its shared libraries come along
set -euo pipefail
cd "$(dirname "$0")/.."
start=$SECONDS
cli=${1:-}
if [ -z "$cli" ]; then
  DRAVIX_BUILD_DIR=build-nogui DRAVIX_BUILD_TARGETS=dravix-cli ./scripts/build.sh \
    -DDRAVIX_BUILD_GUI=OFF -DDRAVIX_BUILD_TESTS=OFF -DDRAVIX_BUILD_BENCH=OFF >/dev/null
  cli=build-nogui/bin/dravix-cli
fi
kernel_dir=$(./scripts/setup.sh guest-kernel)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

root=$work/root
mkdir -p "$root"/{bin,dev,proc,sys,tmp,etc,root,home/user,lib/modules/dravix}
cp /bin/busybox "$root/bin/busybox"
cp tests/kernel/init tests/kernel/scenarios.sh "$root/"
printf 'root:x:0:0:root:/root:/bin/sh\nuser:x:1000:1000:user:/home/user:/bin/sh\n' >"$root/etc/passwd"
chown 1000:1000 "$root/home/user"

# dravix-cli and its shared libraries, at the paths the dynamic loader looks for them.
strip -o "$root/bin/dravix-cli" "$cli"
for lib in $(ldd "$cli" | grep -o '/[^ ]*'); do
  mkdir -p "$root$(dirname "$lib")"
  cp -L "$lib" "$root$lib"
done

# Modules with what they depend on, in loading order: the drive and its sr driver at boot; sg is
# loaded later by the scenarios.
declare -A module_file
while read -r file; do
  name=$(basename "$file" .ko)
  module_file[${name//-/_}]=$file
done < <(find "$kernel_dir" -name '*.ko')
order=()
add_module() {
  local name=$1 dep
  for dep in "${order[@]}"; do [ "$dep" = "$name" ] && return 0; done
  if [ -z "${module_file[$name]:-}" ]; then
    echo "check-kernel: the guest kernel has no module $name" >&2
    exit 1
  fi
  local deps
  deps=$(grep -ao 'depends=[^[:cntrl:]]*' "${module_file[$name]}" | head -n 1 | cut -d= -f2)
  for dep in ${deps//,/ }; do add_module "$dep"; done
  order+=("$name")
  cp "${module_file[$name]}" "$root/lib/modules/dravix/$name.ko"
}
for module in virtio_pci virtio_scsi sr_mod; do add_module "$module"; done
echo "${order[*]}" >"$root/lib/modules/dravix/order"
add_module sg

# The read test's disc: 3200 sectors of known bytes ("sector 00000123" and a line feed, 128 times),
# 6.5 MB, so QEMU's drive is a CD-ROM (1X = 153,600 B/s): a whole pass at 4X takes 10.7 s, the first
# 1600 sectors at 2X as long. The guest gets the same image to verify against.
perl -e 'print sprintf("sector %08d\n", $_) x 128 for 0 .. 3199' >"$work/data.iso"
cp "$work/data.iso" "$root/data.iso"
# Reads of disc sectors 2000 to 2002 and 2500 fail with EIO (blkdebug counts 512-byte sectors).
for sector in 2000 2001 2002 2500; do
  printf '[inject-error]\nevent = "read_aio"\nerrno = "5"\nsector = "%d"\nonce = "off"\n\n' $((sector * 4))
done >"$work/blkdebug.conf"

(cd "$root" && find . | busybox cpio -o -H newc -R 0:0 2>/dev/null | gzip -1) >"$work/initrd.gz"
mkdir "$work/disc"
echo "Dravix kernel check" >"$work/disc/readme.txt"
genisoimage -quiet -V DRAVIX_CHECK -o "$work/disc.iso" "$work/disc"

kernel=$(ls "$kernel_dir"/boot/vmlinuz-*)
echo "guest: $(basename "$kernel"), $(du -h "$work/initrd.gz" | cut -f1) initramfs, prepared in $((SECONDS - start)) s"
boot=$SECONDS
# The drive's identity is given, so that the expected labels do not depend on QEMU's version.
timeout 600 qemu-system-x86_64 -accel tcg -m 512 -smp 1 -display none -no-reboot -nic none -monitor none \
  -kernel "$kernel" -initrd "$work/initrd.gz" -append "console=ttyS0 quiet panic=-1" \
  -device virtio-scsi-pci,id=scsi0 \
  -drive if=none,id=cd0,file="$work/disc.iso",format=raw,media=cdrom,readonly=on \
  -device scsi-cd,bus=scsi0.0,scsi-id=0,drive=cd0,vendor=QEMU,product="QEMU DVD-ROM",ver=2.5+ \
  -drive if=none,id=cd1,file="$work/data.iso",format=raw,media=cdrom,readonly=on,throttling.bps-read=307200 \
  -device scsi-cd,bus=scsi0.0,scsi-id=1,drive=cd1,vendor=QEMU,product="READ AT 2X",ver=2.5+ \
  -drive if=none,id=cd2,file="$work/data.iso",format=raw,media=cdrom,readonly=on,throttling.bps-read=614400 \
  -device scsi-cd,bus=scsi0.0,scsi-id=2,drive=cd2,vendor=QEMU,product="READ AT 4X",ver=2.5+ \
  -drive if=none,id=cd3,file="blkdebug:$work/blkdebug.conf:$work/data.iso",format=raw,media=cdrom,readonly=on \
  -device scsi-cd,bus=scsi0.0,scsi-id=3,drive=cd3,vendor=QEMU,product="BAD SECTORS",ver=2.5+ \
  -serial file:"$work/console.log" -serial file:"$work/transcript.txt" || {
  echo "check-kernel: QEMU failed or timed out" >&2
  tail -n 40 "$work/console.log" >&2
  exit 1
}
tr -d '\r' <"$work/transcript.txt" >"$work/transcript"
if [ -n "${DRAVIX_KERNEL_TRANSCRIPT:-}" ]; then cp "$work/transcript" "$DRAVIX_KERNEL_TRANSCRIPT"; fi
if ! diff -u tests/kernel/expected.txt "$work/transcript"; then
  echo "check-kernel: the transcript differs from tests/kernel/expected.txt (guest console below)" >&2
  tail -n 40 "$work/console.log" >&2
  exit 1
fi
grep -a '^read test measured: ' "$work/console.log" | tr -d '\r' || true
echo "kernel check: $(grep -c '^\$ ' "$work/transcript") steps as expected; guest ran $((SECONDS - boot)) s, $((SECONDS - start)) s in all"
