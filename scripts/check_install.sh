#!/usr/bin/env bash
# Checks what `cmake --install` and `cpack -G DEB` make of a build folder:
# scripts/check_install.sh BUILD_DIR
# It installs into a temporary DESTDIR under /usr, checks that the changelog's latest entry is this
# version, runs each program's --version from there, validates the desktop entries, renders each
# manual page with man's warnings on and checks that it names every option its program's --help
# lists, then builds the Debian package, checks its Depends and its file list, and has lintian
# check it: any error or warning fails.
set -euo pipefail
build=$(cd "$1" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export QT_QPA_PLATFORM=offscreen
failures=0
fail() {
    echo "check_install: $*" >&2
    failures=$((failures + 1))
}

programs=(SPI comtrak camera-emulator camctl)
entries=(camera-tools-spi camera-tools-comtrak)
files=(
    usr/bin/SPI usr/bin/comtrak usr/bin/camera-emulator usr/bin/camctl
    usr/share/applications/camera-tools-spi.desktop
    usr/share/applications/camera-tools-comtrak.desktop
    usr/share/icons/hicolor/scalable/apps/camera-tools.svg
    usr/share/icons/hicolor/48x48/apps/camera-tools.png
    usr/share/icons/hicolor/256x256/apps/camera-tools.png
    usr/share/man/man1/SPI.1.gz usr/share/man/man1/comtrak.1.gz
    usr/share/man/man1/camera-emulator.1.gz usr/share/man/man1/camctl.1.gz
    usr/share/doc/camera-tools/README.md usr/share/doc/camera-tools/copyright
    usr/share/doc/camera-tools/changelog.gz
    usr/lib/udev/rules.d/60-camera-tools-ftdi.rules
    usr/share/camera-tools/translations/camera-tools_en.qm
)

root=$work/root
DESTDIR=$root cmake --install "$build" --prefix /usr > /dev/null
for file in "${files[@]}"; do
    [[ -e $root/$file ]] || fail "not installed: /$file"
done

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
latest=$(zcat "$root/usr/share/doc/camera-tools/changelog.gz" | sed -n 1p)
[[ $latest == "camera-tools ($version) "* ]] || fail "the changelog's latest entry is not $version: '$latest'"
for program in "${programs[@]}"; do
    out=$("$root/usr/bin/$program" --version 2>&1) || fail "$program --version failed"
    [[ $out == "$program $version" ]] || fail "$program --version said '$out', not '$program $version'"

    page=$root/usr/share/man/man1/$program.1.gz
    warnings=$(MANWIDTH=80 man --warnings -l "$page" 2>&1 > /dev/null) || fail "man -l $program.1 failed"
    [[ -z $warnings ]] || fail "man -l $program.1 warns: $warnings"
    text=$(MANWIDTH=200 man -l "$page" 2> /dev/null)
    for option in $("$root/usr/bin/$program" --help | grep -o -- '--[a-z0-9-]*[a-z0-9]' | sort -u); do
        grep -qE -- "$option([^a-z0-9-]|$)" <<< "$text" || fail "$program.1 does not name $option"
    done
    grep -qw -e lp -e dialout <<< "$text" || fail "$program.1 names neither the lp nor the dialout group"
    grep -q EXAMPLE <<< "$text" || fail "$program.1 has no example"
done

# The windows find their English texts where the package puts them: a window that did not would
# say so on standard error at once.
for window in SPI comtrak; do
    said=$(timeout 3 "$root/usr/bin/$window" --emulator --lang=en 2>&1 > /dev/null || true)
    if grep -q "English texts" <<< "$said"; then
        fail "the installed $window does not find its English texts: $said"
    fi
done

for entry in "${entries[@]}"; do
    desktop=$root/usr/share/applications/$entry.desktop
    desktop-file-validate "$desktop" || fail "$entry.desktop is not valid"
    exec=$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$desktop" | head -1)
    [[ -x $root/usr/bin/$exec ]] || fail "$entry.desktop runs '$exec', which is not installed"
done

# The Debian package: built from the same build folder, into the temporary folder.
(cd "$build" && cpack -G DEB -B "$work/package" > "$work/cpack.log" 2>&1) || {
    cat "$work/cpack.log" >&2
    fail "cpack -G DEB failed"
}
deb=$(ls "$work"/package/*.deb 2> /dev/null | head -1)
if [[ -z $deb ]]; then
    fail "cpack made no .deb"
else
    info=$(dpkg-deb -I "$deb")
    depends=$(sed -n 's/^ Depends: //p' <<< "$info")
    for library in libqt6widgets6 libqt6serialport6 libc6 qt6-qpa-plugins; do
        grep -q "$library" <<< "$depends" || fail "the package's Depends lacks $library: '$depends'"
    done
    grep -q "^ Version: $version\$" <<< "$info" || fail "the package's version is not $version"
    grep -q dialout <<< "$info" || fail "the package's description does not name the dialout group"
    listing=$(dpkg-deb -c "$deb" | awk '{print $6}')
    for file in "${files[@]}"; do
        grep -qx "\./$file" <<< "$listing" || fail "the package lacks /$file"
    done
    # An error or a warning fails; lintian's own exit status is left aside, as it counts errors only.
    lintian --fail-on none "$deb" > "$work/lintian.log" 2>&1 || fail "lintian did not run"
    if grep -q '^[EW]: ' "$work/lintian.log"; then
        cat "$work/lintian.log" >&2
        fail "lintian gives errors or warnings"
    fi
    echo "check_install: $(basename "$deb"), Depends: $depends"
fi

if ((failures > 0)); then
    echo "check_install: $failures failures" >&2
    exit 1
fi
echo "check_install: ${#programs[@]} programs, ${#entries[@]} desktop entries, ${#programs[@]} manual pages and the package are in order"
