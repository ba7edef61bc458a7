#!/bin/sh
# Builds every release artifact twice from the commit at HEAD, in two fresh
# clones under different paths and at least a second apart, and compares
# them byte for byte. On a difference it says what differs (with
# diffoscope where it is installed) and fails.
# usage: tests/check_reproducible.sh (from the top of the tree)
set -eu
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
trap 'exit 1' HUP INT TERM # the time limit's signal, say: still clean up

build_all() {
	git clone -q . "$1"
	(
		cd "$1"
		cmake --preset default -DMSGPOLL_TESTS=OFF >/dev/null
		cmake --build --preset default -j2 >/dev/null
		for preset in windows windows-x86 windows-x86-stdcall; do
			cmake --preset "$preset" -DMSGPOLL_TESTS=OFF >/dev/null
			cmake --build --preset "$preset" -j2 >/dev/null
		done
		scripts/package >/dev/null
	)
}

build_all "$work/one/msgpoll"
sleep 1
build_all "$work/second-build/at/another/path/msgpoll"

status=0
for file in "$work/one/msgpoll/dist"/*; do
	name=$(basename "$file")
	other=$work/second-build/at/another/path/msgpoll/dist/$name
	if cmp -s "$file" "$other"; then
		echo "reproducible: $name"
		continue
	fi
	status=1
	echo "NOT reproducible: $name"
	if command -v diffoscope >/dev/null; then
		diffoscope --text - "$file" "$other" | head -n 60 || true
	else
		cmp "$file" "$other" || true
	fi
done
[ "$(ls "$work/one/msgpoll/dist" | wc -l)" -gt 1 ] || { echo "no artifacts"; exit 1; }
exit $status
