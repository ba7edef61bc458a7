#!/bin/sh
# Checks that AVX code is only where it is chosen at run time. A file built
# for AVX2 (*_wide.cc) defines one function, the one that is called only
# after the processor was asked, and it has AVX code; every other object
# has none. So no AVX instruction can run on a processor without it: not
# even a copy of a shared inline function the linker might pick.
# usage: check_wide_code.sh OBJDUMP NM OBJECT...
set -eu
objdump=$1
nm=$2
shift 2
bad=0
for object; do
	listing=$("$objdump" -d --no-show-raw-insn "$object")
	avx=$(echo "$listing" | awk -F '\t' '$2 ~ /^v/ { n++ } END { print n + 0 }')
	case $object in
	*_wide.cc.o*)
		symbols=$("$nm" --defined-only -g "$object")
		code=$(echo "$symbols" | awk '$2 ~ /^[TW]$/ { print $3 }')
		case $code in
		*_wide*) [ "$(echo "$code" | wc -l)" -eq 1 ] ||
			{ echo "$object: functions other than its own: $code"; bad=1; } ;;
		*) echo "$object: no wide function"; bad=1 ;;
		esac
		[ "$avx" -gt 0 ] || { echo "$object: no AVX code"; bad=1; } ;;
	*)
		[ "$avx" -eq 0 ] || { echo "$object: $avx AVX instructions"; bad=1; } ;;
	esac
done
[ $bad -eq 0 ] && echo "AVX code only in the wide functions, of $# objects"
exit $bad
