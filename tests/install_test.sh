#!/bin/sh
# Installs msgpoll into a temporary prefix and runs the installed tool from
# /: usage and status 1 for a wrong argument, trace lines from the stand-in
# in lib/msgpoll, status 1 when a device operation fails, and another
# HARLEN_620 library taking the stand-in's place through LD_LIBRARY_PATH.
# (Should the stand-in load instead, its planned fault ends the run.)
# usage: install_test.sh BUILD_DIR OTHER_LIBRARY
set -eu
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$1" --prefix "$prefix" >/dev/null
tool=$prefix/bin/msgpoll
cd /
fail() { echo "$1"; exit 1; }

[ -f "$prefix/lib/msgpoll/simulated-device/libHARLEN_620.so" ] || fail "no stand-in in lib/msgpoll"
[ ! -e "$prefix/lib/libHARLEN_620.so" ] || fail "the stand-in took the system-wide name"

status=0
"$tool" -x >"$prefix/usage" 2>&1 || status=$?
[ "$status" -eq 1 ] || fail "wrong argument: status $status"
grep -q '^usage:$' "$prefix/usage" || fail "no usage text"

status=0
HARLEN_FAULT=read@3=9 "$tool" -s 0 >"$prefix/lines" 2>/dev/null </dev/null || status=$?
[ "$status" -eq 1 ] || fail "fault after two reads: status $status"
grep -q '^000001 \[ ' "$prefix/lines" || fail "no trace line"

status=0
HARLEN_FAULT=open=5 "$tool" >/dev/null 2>"$prefix/err" </dev/null || status=$?
[ "$status" -eq 1 ] || fail "failed open: status $status"
grep -qx 'hl_open: status 5 (injected fault)' "$prefix/err" || fail "no report"

other=$prefix/other
mkdir "$other"
cp "$2" "$other/libHARLEN_620.so"
status=0
LD_LIBRARY_PATH=$other HARLEN_FAULT=read@2=7 "$tool" -s 0 >"$prefix/lines" 2>"$prefix/err" </dev/null || status=$?
[ "$status" -eq 1 ] || fail "other library: status $status"
[ "$(cat "$prefix/lines")" = "from the other library" ] || fail "LD_LIBRARY_PATH did not come first"
grep -qx 'other library: Could not get trace data from device: 3' "$prefix/err" ||
	fail "other library: no report"

[ -f "$prefix/share/man/man1/msgpoll.1.gz" ] || fail "no man page"
[ -f "$prefix/share/doc/msgpoll/copyright" ] || fail "no copyright file"
echo "installed msgpoll runs from $prefix"
