#!/bin/sh
# Installs msgpoll into a temporary prefix and runs the installed tool from
# another folder: usage and status 1 for a wrong argument, trace lines from
# the simulated device, status 1 when a device operation fails.
# usage: install_test.sh BUILD_DIR
set -eu
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$1" --prefix "$prefix" >/dev/null
tool=$prefix/bin/msgpoll
cd /

status=0
"$tool" -x >"$prefix/usage" 2>&1 || status=$?
[ "$status" -eq 1 ] || { echo "wrong argument: status $status"; exit 1; }
grep -q '^usage:$' "$prefix/usage" || { echo "no usage text"; cat "$prefix/usage"; exit 1; }

status=0
HARLEN_FAULT=read@3=9 "$tool" -s 0 >"$prefix/lines" 2>/dev/null </dev/null || status=$?
[ "$status" -eq 1 ] || { echo "fault after two reads: status $status"; exit 1; }
grep -q '^000001 \[ ' "$prefix/lines" || { echo "no trace line"; exit 1; }

status=0
HARLEN_FAULT=open=5 "$tool" >/dev/null 2>"$prefix/err" </dev/null || status=$?
[ "$status" -eq 1 ] || { echo "failed open: status $status"; exit 1; }
grep -qx 'hl_open: status 5 (injected fault)' "$prefix/err" || { echo "no report"; exit 1; }

[ -f "$prefix/share/man/man1/msgpoll.1.gz" ] || { echo "no man page"; exit 1; }
echo "installed msgpoll runs from $prefix"
