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

# The nodes' owners and modes: /dev/sr* group cdrom, /dev/sg* group disk.
nodes() {
    for node in /dev/sr*; do chown root:cdrom "$node" && chmod "$1" "$node"; done
    for node in /dev/sg*; do
        if [ -e "$node" ]; then chown root:disk "$node" && chmod "$2" "$node"; fi
    done
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

# A read test's output with the measured speeds judged instead of shown (they differ from run to
# run): with a rate in X, whether the average is within 10 % of it; the read mode is left out.
judged() {
    awk -v rate="$1" '
        /^speed: start / {
            if (rate > 0) {
                average = $0
                sub(/.*average /, "", average)
                sub(/X.*/, "", average)
                off = average / rate - 1
                if (off < 0) off = -off
                # The figure itself goes to the console, which the host shows after the check.
                print "read test measured: average " average "X, throttled to " rate "X" >"/dev/ttyS0"
                if (off <= 0.10) print "speed: average within 10 % of " rate "X"
                else print "speed: average " average "X, not within 10 % of " rate "X"
            }
            next
        }
        /^read mode: / { next }
        # Rotation, access times and the benchmark figures are measured: their numbers and the read
        # mode are left out, what each line says is kept (a figure, or why there is none).
        /^rotation: / || /^access/ || /^  / {
            gsub(/\(read mode [^)]*\)/, "(read mode M)")
            gsub(/[0-9]+(\.[0-9]+)?/, "N")
        }
        { print }'
}

# A read test as the ordinary user: step, with its speeds judged against `rate` (0: none).
read_step() {
    rate=$1
    shift
    echo "\$ [user] dravix-cli $*"
    su user -s /bin/sh -c "dravix-cli $*" >/tmp/out 2>&1
    status=$?
    judged "$rate" </tmp/out
    echo "[exit $status]"
}

# A write test as root with every command traced: what the program says, and how many of the
# commands that record or switch simulation on were sent (none may be), beside the disc check that
# shows the trace was taken.
write_step() {
    echo "\$ [root] dravix-cli --trace $*"
    dravix-cli --trace "$@" >/tmp/out 2>&1
    status=$?
    grep -v '^\[[0-9]*\] CDB ' /tmp/out
    sent() { grep -c "^\[[0-9]*\] CDB $1 " /tmp/out; }
    echo "traced: GET CONFIGURATION $(sent 46), WRITE(10) $(sent 2A), MODE SELECT(10) $(sent 55)," \
        "Test Write set $(sent 'FD FB 5A 41 52 4E 02')"
    echo "[exit $status]"
}

# Changes one byte of a sector of an image file.
change_sector() {
    printf 'X' | dd of="$1" bs=1 seek=$(($2 * 2048 + 5)) conv=notrunc 2>/dev/null
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
for n in 0 1 2 3; do wait_for /dev/sr$n; done

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
for n in 0 1 2 3; do wait_for /dev/sg$n; done
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
echo "## the read test, an ordinary user with access to the nodes: drives 1 and 2 read at 2X and 4X"
member_of cdrom disk
read_step 2 --drive 1 readtest --start 0 --end 1599
read_step 4 --drive 2 readtest --mode errors --verify /data.iso
echo "## verify against a copy with sectors 100, 101 and 3000 changed"
cp /data.iso /tmp/changed.iso
for sector in 100 101 3000; do change_sector /tmp/changed.iso $sector; done
read_step 4 --drive 2 readtest --mode errors --verify /tmp/changed.iso
echo "## drive 3 fails sectors 2000 to 2002 and 2500"
read_step 0 --drive 3 readtest
echo "## the same through the sr node only (sg refused)"
member_of cdrom
read_step 0 --drive 3 readtest --mode errors --verify /data.iso
echo "## the benchmark on drive 1: every test gives a figure or says why not"
member_of cdrom disk
read_step 0 --drive 1 readtest --mode benchmark --load-eject --yes
echo "## the write test on a read-only drive: refused, nothing written, simulation never asked"
write_step writetest --yes
write_step --drive 1 writetest --yes --length 1
echo "## done"
