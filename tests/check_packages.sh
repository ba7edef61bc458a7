#!/bin/sh
# Makes msgpoll's packages from the builds of the presets and checks each
# as its platform's own tools would:
#  - the .deb: its listing, lintian with no error and no warning, and the
#    tool run from the unpacked package;
#  - the RPM: its listing, signed with a key made for this run (a release
#    is signed with the project's), rpmlint with no error;
#  - the source tarball: no builds, packages or .git in it, and it
#    configures and builds;
#  - each Windows zip that has a build: its listing.
# usage: tests/check_packages.sh (from the top of the tree)
set -eu
top=$(pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

fail() { echo "check_packages: $*"; exit 1; }

# Says which expected lines the listing on stdin lacks or has too many of.
same_listing() {
	sort >"$work/got"
	printf '%s\n' "$@" | sort >"$work/want"
	diff -u "$work/want" "$work/got" || fail "listing differs (- wanted, + found)"
}

(cd build && cpack -G DEB >/dev/null && cpack -G RPM >/dev/null &&
	cpack --config CPackSourceConfig.cmake >/dev/null)
version=$(sed -n 's/^project(msgpoll VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)

deb=build/msgpoll_${version}_amd64.deb
dpkg-deb -c "$deb" | awk '$6 !~ /\/$/ {print $6}' | same_listing \
	./usr/bin/msgpoll \
	./usr/lib/msgpoll/simulated-device/libHARLEN_620.so \
	./usr/share/doc/msgpoll/changelog.gz \
	./usr/share/doc/msgpoll/copyright \
	./usr/share/man/man1/msgpoll.1.gz
lintian --fail-on error,warning "$deb" || fail "lintian: $deb"
dpkg-deb -x "$deb" "$work/deb"
status=0
(cd / && HARLEN_FAULT=read@2=4 "$work/deb/usr/bin/msgpoll" -s 0 >"$work/out" 2>&1 </dev/null) ||
	status=$?
[ "$status" -eq 1 ] && grep -q '^000001 ' "$work/out" || fail "the .deb's msgpoll: status $status"
echo "deb: $deb passes lintian and runs"

rpm=build/msgpoll-${version}-1.x86_64.rpm
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

tarball=build/msgpoll-${version}.tar.gz
tar -tzf "$tarball" >"$work/sources"
grep -E '(^|/)(\.git|build[^/]*|wineprefix)/|\.(deb|rpm|zip)$' "$work/sources" &&
	fail "the source tarball holds the lines above"
grep -qx "msgpoll-$version/LICENSE" "$work/sources" || fail "no LICENSE in the tarball"
tar -xzf "$tarball" -C "$work"
(cd "$work/msgpoll-$version" && cmake --preset default -DMSGPOLL_TESTS=OFF >/dev/null &&
	cmake --build --preset default -j2 >/dev/null) || fail "the source tarball does not build"
[ -x "$work/msgpoll-$version/build/msgpoll" ] || fail "no msgpoll from the tarball"
echo "source: $tarball configures and builds"

for arch in x64 x86; do
	dir=build-windows
	[ $arch = x64 ] || dir=build-windows-$arch
	[ -f "$dir/msgpoll.exe" ] || continue
	(cd "$dir" && cpack >/dev/null)
	python3 -m zipfile -l "$dir/msgpoll-$version-windows-$arch.zip" |
		awk 'NR > 1 && $1 !~ /\/$/ {print $1}' | same_listing \
		msgpoll.exe simulated-device/HARLEN_620.dll README.txt LICENSE.txt
	echo "zip: msgpoll-$version-windows-$arch.zip"
done
echo "packages: checked"
