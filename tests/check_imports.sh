#!/bin/sh
# Checks that msgpoll.exe binds HARLEN_620.dll by ordinal alone: exactly the
# ordinals 2, 3, 4, 7 and 32, and no names.
# usage: check_imports.sh OBJDUMP MSGPOLL_EXE
set -eu
# objdump lists an import by ordinal as its thunk with the top bit set and
# the ordinal in the low 16 bits, in hex: 8000NNNN for a 32-bit program,
# 800000000000NNNN for a 64-bit one. An import by name shows its name.
entries=$("$1" -p "$2" | awk '
	/DLL Name:/ { inside = ($3 == "HARLEN_620.dll"); next }
	inside && NF == 0 { inside = 0 }
	inside && $1 ~ /^[0-9a-f]+$/ {
		n = length($1)
		if ((n == 8 || n == 16) && $1 ~ /^8/ && $3 == "<none>")
			print substr($1, n - 3)
		else
			print "name:" $3
	}')
found=""
for e in $entries; do
	case $e in
	name:*) found="$found $e" ;;
	*) found="$found $(printf '%d' "0x$e")" ;;
	esac
done
found=$(echo $found | tr ' ' '\n' | sort -n | tr '\n' ' ')
if [ "$found" != "2 3 4 7 32 " ]; then
	echo "HARLEN_620.dll imports: '$found', expected ordinals 2 3 4 7 32"
	exit 1
fi
echo "HARLEN_620.dll imported by ordinal alone: $found"
