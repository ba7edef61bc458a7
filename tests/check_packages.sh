#!/bin/sh
# Makes msgpoll's packages from the builds of the presets and checks each
# as its platform's own tools would:
#  - the .deb: its listing, lintian with no error and no warning, and the
#    tool run from the unpacked package;
#  - the RPM: its listing, signed with a key made for this run (a release
#    is signed with the project's), rpmlint with no error;
#  - the source tarball: no builds, packages or .git in it, and it
#    configures and builds;
#  - each Windows zip that has a build (x64, x86, x86-stdcall): its
#    listing, and its texts' CR LF line ends;
#    the programs' version resources and manifest;
#  - SHA256SUMS: it matches every artifact;
#  - no program or library, built or packaged, has an empty RUNPATH entry.
# The artifacts come from scripts/package, in dist/; their architectures
# are the build's.
# usage: tests/check_packages.sh (from the top of the tree)
set -eu
top=$(pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
trap 'exit 1' HUP INT TERM # the time limit's signal, say: still clean up

fail() { echo "check_packages: $*" >&2; exit 1; }

# Says which expected lines the listing on stdin lacks or has too many of.
same_listing() {
	sort >"$work/got"
	printf '%s\n' "$@" | sort >"$work/want"
	diff -u "$work/want" "$work/got" || fail "listing differs (- wanted, + found)"
}

scripts/package >/dev/null
version=$(sed -n 's/^project(msgpoll VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
(cd dist && sha256sum --quiet -c SHA256SUMS) || fail "SHA256SUMS does not match"

# The one file that matches the pattern.
only() {
	set -- $1
	[ $# -eq 1 ] && [ -f "$1" ] || fail "not one artifact: $*"
	echo "$1"
}

deb=$(only "dist/msgpoll_${version}_*.deb")
dpkg-deb -c "$deb" | awk '$6 !~ /\/$/ {print $6}' | same_listing \
	./usr/bin/msgpoll \
	./usr/lib/msgpoll/simulated-device/libHARLEN_620.so \
	./usr/share/doc/msgpoll/changelog.gz \
	./usr/share/doc/msgpoll/copyright \
	./usr/share/man/man1/msgpoll.1.gz
TMPDIR=$work lintian --fail-on error,warning "$deb" || fail "lintian: $deb" # its scratch files too
dpkg-deb -x "$deb" "$work/deb"
status=0
(cd / && HARLEN_FAULT=read@2=4 "$work/deb/usr/bin/msgpoll" -s 0 >"$work/out" 2>&1 </dev/null) ||
	status=$?
[ "$status" -eq 1 ] && grep -q '^000001 ' "$work/out" || fail "the .deb's msgpoll: status $status"
echo "deb: $deb passes lintian and runs"

rpm=$(only "dist/msgpoll-${version}-1.*.rpm")
rpm -qlp "$rpm" | grep -v '^/usr/lib/.build-id' | same_listing \
	/usr/bin/msgpoll \
	/usr/lib/msgpoll \
	/usr/lib/msgpoll/simulated-device \
	/usr/lib/msgpoll/simulated-device/libHARLEN_620.so \
	/usr/share/doc/msgpoll \
	/usr/share/doc/msgpoll/changelog.gz \
	/usr/share/doc/msgpoll/copyright \
	/usr/share/man/man1/msgpoll.1.gz
[ "$(rpm -qp --qf '%{LICENSE}' "$rpm")" = MIT ] || fail "RPM licence"
rpm -qp --changelog "$rpm" | grep -q "^\* .* - $version-1$" || fail "RPM changelog"
mkdir -m 700 "$work/gnupg" "$work/rpmdb"
export GNUPGHOME="$work/gnupg"
gpg --batch --passphrase '' --quick-gen-key "msgpoll check <check@msgpoll.invalid>" \
	ed25519 sign never 2>/dev/null
cp "$rpm" "$work/"
rpm=$work/$(basename "$rpm")
rpmsign --define "_gpg_name check@msgpoll.invalid" --define "__gpg $(command -v gpg)" \
	--addsign "$rpm" >/dev/null 2>&1 || fail "rpmsign"
gpg --armor --export check@msgpoll.invalid >"$work/key.asc"
echo "%_dbpath $work/rpmdb" >"$work/.rpmmacros"
HOME=$work rpmkeys --import "$work/key.asc"
HOME=$work rpmkeys -K "$rpm" | grep -q 'signatures OK' || fail "RPM signature"
HOME=$work rpmlint "$rpm" >"$work/rpmlint" 2>&1 || true
cat "$work/rpmlint"
grep -q ' 0 errors' "$work/rpmlint" || fail "rpmlint reports errors"
echo "rpm: $(basename "$rpm") passes rpmlint without an error"

tarball=dist/msgpoll-${version}.tar.gz
tar -tzf "$tarball" >"$work/sources"
grep -E '(^|/)(\.git|build[^/]*|wineprefix|dist)/|\.(deb|rpm|zip)$' "$work/sources" &&
	fail "the source tarball holds the lines above"
grep -qx "msgpoll-$version/LICENSE" "$work/sources" || fail "no LICENSE in the tarball"
tar -xzf "$tarball" -C "$work"
(cd "$work/msgpoll-$version" && cmake --preset default -DMSGPOLL_TESTS=OFF >/dev/null &&
	cmake --build --preset default -j2 >/dev/null) || fail "the source tarball does not build"
[ -x "$work/msgpoll-$version/build/msgpoll" ] || fail "no msgpoll from the tarball"
echo "source: $tarball configures and builds"

for arch in x64 x86 x86-stdcall; do
	zip=dist/msgpoll-$version-windows-$arch.zip
	[ -f "$zip" ] || continue
	python3 -m zipfile -l "$zip" | awk 'NR > 1 && $1 !~ /\/$/ {print $1}' | same_listing \
		msgpoll.exe simulated-device/HARLEN_620.dll msgpoll-README.txt msgpoll-LICENSE.txt
	python3 - "$zip" <<'PY' || fail "$zip: a text without CR LF line ends"
import sys, zipfile
z = zipfile.ZipFile(sys.argv[1])
for name in ("msgpoll-README.txt", "msgpoll-LICENSE.txt"):
    text = z.read(name)
    assert text.count(b"\n") == text.count(b"\r\n") > 0, name
PY
	# The programs' resources, read back from the zip's files.
	rm -rf "$work/zip" && mkdir "$work/zip"
	python3 -m zipfile -e "$zip" "$work/zip"
	sh tests/check_resources.sh x86_64-w64-mingw32-windres "$work/zip/msgpoll.exe" \
		"$work/zip/simulated-device/HARLEN_620.dll" "$version" >/dev/null ||
		fail "$zip: resources"
	echo "zip: $zip"
done

# No RUNPATH with an empty entry (the current folder), built or packaged.
for elf in build/msgpoll build/libHARLEN_620.so "$work/deb/usr/bin/msgpoll" \
	"$work/deb/usr/lib/msgpoll/simulated-device/libHARLEN_620.so"; do
	readelf -d "$elf" | sed -n 's/.*R.*PATH.*\[\(.*\)\]/\1/p' |
		grep -qE '^:|::|:$|^$' && fail "$elf: an empty RUNPATH entry"
done
echo "RUNPATH: no empty entry"
echo "packages: checked"
