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
KESTROVA_SIGFIX="$KESTROVA_OPT/lib/kestrova-sigfix.so"
export KESTROVA_OPT KESTROVA_WINEPREFIX

# Quiet, and no downloads or dialogs: without Mono and Gecko Wine would offer
# to fetch them, and winedbg would hold a crashed program open.
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml,winedbg.exe=d"
export WINEPREFIX="$KESTROVA_WINEPREFIX"
