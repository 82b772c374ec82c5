# Helpers of the guest's scenario scripts (sourced). Each scenario runs in its
# own shell in $WORK and ends with exit 0 (pass), 77 (pending: what it needs
# is not there yet) or anything else (fail, after a "FAIL:" line).

SAMPLES=/vm/samples

uptime_s() { cut -d' ' -f1 /proc/uptime; }
elapsed_since() { awk -v a="$1" -v b="$(uptime_s)" 'BEGIN { printf "%.1f", b - a }'; }

fail() {
    echo "FAIL: $*"
    exit 1
}
pending() {
    echo "PENDING: $*"
    exit 77
}
note() { echo "  $*"; }

# gadget_start NAME UDC ARGS...: a gadget on controller UDC (dummy_udc.0,
# dummy_udc.1), its log in $WORK/NAME.log and its command log in
# $WORK/NAME.trace; returns once it is bound.
gadget_start() {
    local name=$1 udc=$2
    shift 2
    rm -f "/tmp/$name.ready"
    vtx_usbgadget --name "$name" --udc "$udc" --ready "/tmp/$name.ready" \
        --trace "$WORK/$name.trace" "$@" >>"$WORK/$name.log" 2>&1 &
    echo $! >"/tmp/$name.pid"
    local i=0
    while [ ! -e "/tmp/$name.ready" ]; do
        i=$((i + 1))
        [ $i -le 100 ] || fail "gadget $name did not bind: $(cat "$WORK/$name.log")"
        kill -0 "$(cat "/tmp/$name.pid")" 2>/dev/null ||
            fail "gadget $name ended: $(cat "$WORK/$name.log")"
        usleep 50000
    done
}

gadget_stop() {
    local pid
    pid=$(cat "/tmp/$1.pid" 2>/dev/null) || return 0
    kill -TERM "$pid" 2>/dev/null
    local i=0
    while kill -0 "$pid" 2>/dev/null && [ $i -lt 100 ]; do
        usleep 50000
        i=$((i + 1))
    done
    kill -KILL "$pid" 2>/dev/null
    rm -f "/tmp/$1.pid"
}

# wait_node PATH [SECONDS]: until the node exists.
wait_node() {
    local limit=$(( ${2:-10} * 20 )) i=0
    while [ ! -e "$1" ]; do
        i=$((i + 1))
        [ $i -le $limit ] || fail "$1 did not appear within ${2:-10} s"
        usleep 50000
    done
}

# wait_gone PATH [SECONDS]: until the node is gone.
wait_gone() {
    local limit=$(( ${2:-10} * 20 )) i=0
    while [ -e "$1" ]; do
        i=$((i + 1))
        [ $i -le $limit ] || fail "$1 did not go away within ${2:-10} s"
        usleep 50000
    done
}

# expect_line FILE TEXT: FILE holds TEXT as a whole line.
expect_line() {
    grep -qxF -- "$2" "$1" || fail "expected the line '$2' in $(basename "$1"):
$(cat "$1")"
}

# expect_no_line FILE PATTERN: no line of FILE matches the extended regex.
expect_no_match() {
    if grep -qE -- "$2" "$1"; then fail "unexpected '$2' in $(basename "$1"):
$(cat "$1")"; fi
}

# commands NAME REGEX: how many logged commands of gadget NAME match, e.g.
# "^12[0-9a-f]* in 254 " for the tool's INQUIRY.
commands() { cut -d' ' -f2- "$WORK/$1.trace" 2>/dev/null | grep -cE -- "$2"; }

# bridge_start STATE [DESCRIPTION [ARGS...]]: the simulated bridge on
# dummy_udc.0, from its state file (made from DESCRIPTION when absent).
bridge_start() {
    local state=$1 description=${2:-}
    shift
    [ $# -gt 0 ] && shift
    if [ -n "$description" ]; then
        gadget_start bridge dummy_udc.0 --state "$state" --description "$description" "$@"
    else
        gadget_start bridge dummy_udc.0 --state "$state" "$@"
    fi
}

# run_update IMAGE: vtx_fwupdate with the sample files; its output in
# out.txt and err.txt, its exit code in $status, its time in $elapsed.
run_update() {
    local begin
    begin=$(uptime_s)
    vtx_fwupdate "$SAMPLES/$1" "$SAMPLES/rescue.bin" "$SAMPLES/bridge.cfg" "$SAMPLES/led.bin" \
        </dev/null >out.txt 2>err.txt
    status=$?
    elapsed=$(elapsed_since "$begin")
    cp out.txt vtx_fwupdate.out.log
    cp err.txt vtx_fwupdate.err.log
}

# The scenarios that need more of vtx_fwupdate than its start wait, as
# pending, until the program carries that part (/vm/features, written when
# the initramfs is made).
needs_feature() {
    [ -x /bin/vtx_fwupdate ] || pending "vtx_fwupdate is not built"
    grep -qx "$1" /vm/features || pending "vtx_fwupdate has no $1 yet"
}
needs_device_check() { needs_feature device-check; }
needs_update_run() { needs_feature update-run; }

# load_later: the modules no scenario but one wants (scsi_debug).
load_later() {
    while read -r module params; do
        insmod "/lib/modules/$module" $params || fail "insmod $module"
    done </vm/modules.later
}

set_delay_use() { echo "$1" >/sys/module/usb_storage/parameters/delay_use; }

# After every scenario: no gadget left running, none left in configfs, no
# SCSI device left behind for the next one.
cleanup_scenario() {
    local pidfile gadget
    for pidfile in /tmp/*.pid; do
        [ -e "$pidfile" ] && gadget_stop "$(basename "$pidfile" .pid)"
    done
    for gadget in /sys/kernel/config/usb_gadget/*; do
        [ -d "$gadget" ] || continue
        echo "vm: removing a gadget left behind: $gadget"
        echo "" >"$gadget/UDC" 2>/dev/null
        rm -f "$gadget"/configs/*/ffs.* 2>/dev/null
        rmdir "$gadget"/configs/*/strings/* "$gadget"/configs/* "$gadget"/functions/* \
              "$gadget"/strings/* "$gadget" 2>/dev/null
    done
    grep -q functionfs /proc/mounts && awk '$3 == "functionfs" { print $2 }' /proc/mounts |
        while read -r m; do umount -l "$m"; done
    grep -q '^scsi_debug ' /proc/modules && rmmod scsi_debug
    set_delay_use 0
    local i=0
    while ls /dev/sd* /dev/sr* >/dev/null 2>&1 && [ $i -lt 60 ]; do
        usleep 50000
        i=$((i + 1))
    done
}

show_failure() {
    echo "--- scenario ended with status $1; gadget logs and kernel messages:"
    for log in "$WORK"/*.log "$WORK"/*.trace; do
        [ -e "$log" ] || continue
        echo "--- $(basename "$log") (last 40 lines)"
        tail -n 40 "$log"
    done
    echo "--- dmesg (last 40 lines)"
    dmesg | tail -n 40
}

# The Windows scenarios run the Windows executables under the host's Wine:
# the host's root file system is shared read-only through 9p and the guest
# chroots into it, with its own /dev, /proc, /sys and a tmpfs on /tmp. The
# prefix the host made (tests/vm/wineprefix.sh) lies under a writable
# overlay; drive d: is the optical drive whose device is /dev/sr0. The
# executables and the samples are in /tmp/vtx of that root, the working
# directory of wine_run. One Wine session (a persistent wineserver with its
# services) serves every Windows scenario of the boot: starting one is the
# slowest step in the emulated guest.
WINE_ROOT=/host

kernel_arg() {  # the value of kernel parameter $1, or ""
    local word
    for word in $(cat /proc/cmdline); do
        case $word in "$1="*) echo "${word#*=}" ;; esac
    done
}

wine_env() {  # wine_env COMMAND...: COMMAND in the host's root, Wine's environment
    chroot "$WINE_ROOT" /usr/bin/env -i PATH=/usr/bin:/bin HOME=/tmp/home \
        WINEPREFIX=/tmp/wine/prefix WINEDEBUG="${WINEDEBUG:--all}" \
        WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d" "$@"
}

wine_ready() {
    local prefix
    prefix=$(kernel_arg vtx.wineprefix)
    [ -n "$prefix" ] || pending "no Windows build or no Wine on the host for this run"
    ls /vm/win/*.exe >/dev/null 2>&1 || pending "no Windows executables in this run"
    grep -q " $WINE_ROOT/tmp/wine/prefix " /proc/mounts && return 0
    while read -r module params; do
        insmod "/lib/modules/$module" $params 2>/dev/null
    done </vm/modules.wine
    mkdir -p "$WINE_ROOT"
    mount -t 9p -o trans=virtio,version=9p2000.L,ro,msize=512000,cache=loose hostroot "$WINE_ROOT" ||
        fail "the host's root file system could not be mounted"
    [ -d "$WINE_ROOT$prefix" ] || fail "no Wine prefix at $prefix in the host's file system"
    mount -t tmpfs tmp "$WINE_ROOT/tmp"
    mount -o bind /dev "$WINE_ROOT/dev"
    mount -t proc proc "$WINE_ROOT/proc"
    mount -o bind /sys "$WINE_ROOT/sys"
    mkdir -p "$WINE_ROOT"/tmp/wine/upper "$WINE_ROOT"/tmp/wine/work "$WINE_ROOT"/tmp/wine/prefix \
        "$WINE_ROOT"/tmp/home "$WINE_ROOT"/tmp/vtxcd "$WINE_ROOT"/tmp/vtx
    mount -t overlay overlay \
        -o "lowerdir=$WINE_ROOT$prefix,upperdir=$WINE_ROOT/tmp/wine/upper,workdir=$WINE_ROOT/tmp/wine/work" \
        "$WINE_ROOT/tmp/wine/prefix" || fail "no writable layer over the Wine prefix"
    cp /vm/win/*.exe /vm/samples/* "$WINE_ROOT/tmp/vtx/"
    wine_env /usr/lib/wine/wineserver -p || fail "wineserver did not start"
}

# wine_run OUT PROGRAM ARGS...: PROGRAM under Wine in /tmp/vtx of the host's
# root, standard input from the caller; its standard output in OUT and its
# standard error in OUT.err, both without the carriage returns of the C
# runtime's text mode; its exit code in $status and its time in $elapsed.
wine_run() {
    local out=$1 begin
    shift
    begin=$(uptime_s)
    wine_env /bin/sh -c 'cd /tmp/vtx && exec /usr/lib/wine/wine64 "$@"' wine "$@" \
        >"$out.raw" 2>"$out.err.raw"
    status=$?
    elapsed=$(elapsed_since "$begin")
    tr -d '\r' <"$out.raw" >"$out"
    tr -d '\r' <"$out.err.raw" >"$out.err"
    rm -f "$out.raw" "$out.err.raw"
}
