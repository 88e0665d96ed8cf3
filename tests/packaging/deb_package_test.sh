#!/usr/bin/env bash
# The Debian package: `cpack -G DEB` builds it from the build folder; unpacked with `dpkg -x` into a
# scratch folder it holds both programs with their manual pages, the desktop entry, the icon and the
# AppStream metainfo, each valid; its dependencies name the libraries the programs need; and the
# packaged window starts.
#
#   deb_package_test.sh BUILD_DIR
set -euo pipefail
build=$(cd "$1" && pwd)
scratch=$(mktemp -d /tmp/paritas-deb-test.XXXXXX)
trap 'rm -rf "$scratch"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

cpack --config "$build/CPackConfig.cmake" -G DEB -B "$scratch/out" >"$scratch/cpack.log" 2>&1 ||
    { cat "$scratch/cpack.log" >&2; fail "cpack could not build the package"; }
deb=$(ls "$scratch"/out/paritas_*.deb 2>/dev/null | head -1)
[[ -f "$deb" ]] || fail "no paritas_*.deb in $scratch/out"

[[ $(dpkg-deb -f "$deb" Package) == paritas ]] || fail "package name"
depends=$(dpkg-deb -f "$deb" Depends)
names=$(tr ',' '\n' <<<"$depends" | awk '{print $1}')
for library in libc6 libstdc++6 libqt6core6 libqt6gui6 libqt6widgets6 libqt6svg6; do
    grep -qxF "$library" <<<"$names" || fail "Depends lacks $library: $depends"
done

root="$scratch/root"
dpkg -x "$deb" "$root"
for file in usr/bin/paritas usr/bin/paritas-cli usr/share/applications/paritas.desktop \
    usr/share/icons/hicolor/scalable/apps/paritas.svg usr/share/metainfo/org.example.paritas.metainfo.xml; do
    [[ -f "$root/$file" ]] || fail "$file is not in the package"
done
for program in paritas paritas-cli; do
    [[ -x "$root/usr/bin/$program" ]] || fail "usr/bin/$program is not executable"
    page=$(ls "$root/usr/share/man/man1/$program.1"* 2>/dev/null | head -1)
    [[ -n "$page" ]] || fail "the manual page of $program is not in the package"
    [[ $(zcat -f "$page" | sed -n 1p) == .TH\ * ]] || fail "$page is no manual page"
done

desktop="$root/usr/share/applications/paritas.desktop"
desktop-file-validate "$desktop" || fail "paritas.desktop does not validate"
grep -qx 'Exec=paritas' "$desktop" || fail "the desktop entry does not start paritas"
grep -qx 'Icon=paritas' "$desktop" || fail "the desktop entry does not name the icon"
grep -qE '^Categories=.*Utility;.*FileTools;' "$desktop" || fail "categories"
# Without --no-net: a URL in the metainfo that cannot be reached fails the validation, and the
# metainfo names none it cannot stand behind.
appstreamcli validate "$root/usr/share/metainfo/org.example.paritas.metainfo.xml" ||
    fail "the metainfo does not validate"
grep -q '<launchable type="desktop-id">paritas.desktop</launchable>' \
    "$root/usr/share/metainfo/org.example.paritas.metainfo.xml" || fail "the metainfo does not launch paritas.desktop"

# The programs as packaged run: the command line answers, the window comes up and stays.
"$root/usr/bin/paritas-cli" --version >/dev/null || fail "paritas-cli --version"
mkdir "$scratch/home"
status=0
(cd "$scratch/home" && HOME="$scratch/home" QT_QPA_PLATFORM=offscreen timeout 3 "$root/usr/bin/paritas") \
    >"$scratch/paritas.log" 2>&1 || status=$?
[[ $status -eq 124 ]] || { cat "$scratch/paritas.log" >&2; fail "the packaged paritas did not start (status $status)"; }
echo "ok: $(basename "$deb"), Depends: $depends"
