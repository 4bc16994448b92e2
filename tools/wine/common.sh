# Shared settings of the Wine wrappers; sourced, not run.
#
# KESTROVA_OPT         where install puts what Debian's packages do not
#                      (default /opt/kestrova): the backported qemu-i386 and the
#                      fault fixer preloaded into emulated processes.
# KESTROVA_WINEPREFIX  the one Wine prefix that run32 and run64 share
#                      (default build/wineprefix in the repository). Creating
#                      one takes seconds and over a gigabyte, so every test and
#                      the demo use the same.

kestrova_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
: "${KESTROVA_OPT:=/opt/kestrova}"
: "${KESTROVA_WINEPREFIX:=$kestrova_root/build/wineprefix}"
KESTROVA_QEMU_I386="$KESTROVA_OPT/qemu/usr/bin/qemu-i386"
# ld.so expands $LIB per process class: lib/i386-linux-gnu or lib/x86_64-linux-gnu.
KESTROVA_SIGFIX="$KESTROVA_OPT/\$LIB/kestrova-sigfix.so"
export KESTROVA_OPT KESTROVA_WINEPREFIX

# Quiet, and no downloads or dialogs: without Mono and Gecko Wine would offer
# to fetch them, and winedbg would hold a crashed program open.
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml,winedbg.exe=d"
export WINEPREFIX="$KESTROVA_WINEPREFIX"

# Runs a command (normally /usr/bin/wine ...) where 32-bit x86 programs run
# through qemu-i386: a user and mount namespace of its own with a private
# binfmt_misc instance, so nothing is registered outside. Only the emulated
# process gets the fault fixer, through qemu's guest environment.
kestrova_in_ns32() {
    QEMU_SET_ENV="LD_PRELOAD=$KESTROVA_SIGFIX" KESTROVA_QEMU_I386="$KESTROVA_QEMU_I386" \
        unshare --user --map-root-user --mount --fork /bin/sh -ec '
            mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc
            # i386 ELF executables and shared objects; F opens the emulator now,
            # so the registration holds whatever the program later sees as /.
            printf "%s" ":kestrova-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:$KESTROVA_QEMU_I386:F" \
                > /proc/sys/fs/binfmt_misc/register
            exec "$@"' kestrova-ns32 "$@"
}

# Creates the shared prefix on first use. A lock keeps parallel first runs from
# initialising it twice; the marker is written only once wineboot finished.
kestrova_ensure_prefix() {
    local marker="$KESTROVA_WINEPREFIX/.kestrova-ready"
    [ -f "$marker" ] && return 0
    mkdir -p "$(dirname "$KESTROVA_WINEPREFIX")"
    (
        flock 9
        if [ ! -f "$marker" ]; then
            echo "kestrova: creating the Wine prefix $KESTROVA_WINEPREFIX (once)" >&2
            rm -rf "$KESTROVA_WINEPREFIX"
            # Through the 32-bit path so both halves of the WoW64 prefix are set up.
            kestrova_in_ns32 /usr/bin/wine wineboot --init >/dev/null 2>&1
            kestrova_in_ns32 /usr/bin/wineserver -w >/dev/null 2>&1 || true
            [ -d "$KESTROVA_WINEPREFIX/drive_c/windows/syswow64" ] || {
                echo "kestrova: wineboot did not create $KESTROVA_WINEPREFIX" >&2
                exit 1
            }
            touch "$marker"
        fi
    ) 9>"$KESTROVA_WINEPREFIX.lock"
}

# Starts the prefix's wineserver and Wine's own background programs
# (services.exe, explorer.exe, ...) ourselves, detached from our standard
# streams, unless a server is already running. Left to Wine, the first program
# of a run starts them, they inherit its stdout and stderr and outlive it by a
# few seconds: whoever reads those streams to the end (a test capturing the
# output) would wait for them to go.
kestrova_start_server() {
    local status=0
    /usr/bin/wineserver </dev/null >/dev/null 2>&1 || status=$?
    [ "$status" = 0 ] || return 0  # already running (or cannot start: the run will say)
    /usr/lib/wine/wine64 cmd /c exit </dev/null >/dev/null 2>&1 || true
}
