#!/bin/sh
# Checks the resources of msgpoll.exe and HARLEN_620.dll as windres reads
# them back: the program's version and copyright and its manifest, and the
# library's word that it is the simulated device.
# usage: check_resources.sh WINDRES MSGPOLL_EXE HARLEN_620_DLL VERSION
set -eu
fail() { echo "check_resources: $*" >&2; exit 1; }
exe_rc=$("$1" -i "$2" -O rc) || fail "$2 has no resources"
for want in '"ProductName", "msgpoll"' "\"ProductVersion\", \"$4\"" \
	'"LegalCopyright", "Copyright' 'RT_MANIFEST' 'asInvoker'; do
	printf '%s\n' "$exe_rc" | grep -qF "$want" || fail "$2 lacks $want"
done
"$1" -i "$3" -O rc | grep -qF '"FileDescription", "Simulated Harlen trace device' ||
	fail "$3 does not say it is the simulated device"
echo "resources: $2 and $3"
