#!/bin/sh
# dravix-cli against the kernel's sr and sg drivers and QEMU's emulated SCSI CD/DVD drive, as root
# and as an ordinary user with different access to the drive's nodes. Each step prints the command
# line, everything the program printed and its exit status; the host compares the transcript with
# expected.txt.

# Loads modules by file name (no modules.dep here), in the order given.
load() {
    for module in "$@"; do
        insmod "/lib/modules/dravix/$module.ko" || echo "cannot load $module"
    done
}

# The nodes' owners and modes: /dev/sr0 group cdrom, /dev/sg0 group disk.
nodes() {
    chown root:cdrom /dev/sr0 && chmod "$1" /dev/sr0
    if [ -e /dev/sg0 ]; then chown root:disk /dev/sg0 && chmod "$2" /dev/sg0; fi
}

# The groups the user "user" belongs to besides its own.
member_of() {
    cdrom=
    disk=
    for group in "$@"; do
        case $group in
            cdrom) cdrom=user ;;
            disk) disk=user ;;
        esac
    done
    printf 'root:x:0:\ndisk:x:6:%s\ncdrom:x:24:%s\nuser:x:1000:\n' "$disk" "$cdrom" >/etc/group
}

step() {
    who=$1
    shift
    echo "\$ [$who] dravix-cli $*"
    if [ "$who" = root ]; then
        dravix-cli "$@" >/tmp/out 2>&1
    else
        su user -s /bin/sh -c "dravix-cli $*" >/tmp/out 2>&1
    fi
    status=$?
    cat /tmp/out
    echo "[exit $status]"
}

wait_for() {
    tries=0
    while [ ! -e "$1" ] && [ $tries -lt 300 ]; do
        sleep 0.1
        tries=$((tries + 1))
    done
    [ -e "$1" ] || echo "no $1"
}

load $(cat /lib/modules/dravix/order)
wait_for /dev/sr0

echo "## without the sg module"
member_of
nodes 0660 0660
step root drives
step root probe
echo "## without the sg module, an ordinary user: nothing readable"
step user drives
echo "## without the sg module, an ordinary user: sr readable"
member_of cdrom
step user probe

echo "## with the sg module"
load sg
wait_for /dev/sg0
nodes 0660 0660
step root drives
step root --json drives
step root raw --in 36 12 00 00 00 24 00
step root raw --in 16 46 02 00 00 00 00 00 00 10 00
step root info
step root probe
echo "## an ordinary user: sr readable, sg refused"
member_of cdrom
step user drives
step user raw --in 36 12 00 00 00 24 00
step user probe
echo "## an ordinary user: nothing readable"
member_of
step user drives
step user info
echo "## an ordinary user with access to both nodes"
member_of cdrom disk
step user probe
echo "## done"
