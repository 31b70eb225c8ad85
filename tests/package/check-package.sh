#!/usr/bin/env bash
# Builds the Debian package, unpacks it into a temporary root, runs what it installed, and checks
# its file list, its desktop entry and metadata, and lintian's verdict.
set -euo pipefail
source_dir=$1

deb=$("$source_dir/scripts/package")
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
dpkg-deb -x "$deb" "$root"

expected=(
    usr/bin/zel-stimuli
    usr/bin/zel-test
    usr/share/applications/org.zeltest.ZelTest.desktop
    usr/share/doc/zel-test/Zel_test.ini.example
    usr/share/doc/zel-test/changelog.gz
    usr/share/doc/zel-test/copyright
    usr/share/icons/hicolor/16x16/apps/org.zeltest.ZelTest.png
    usr/share/icons/hicolor/32x32/apps/org.zeltest.ZelTest.png
    usr/share/icons/hicolor/48x48/apps/org.zeltest.ZelTest.png
    usr/share/icons/hicolor/scalable/apps/org.zeltest.ZelTest.svg
    usr/share/man/man1/zel-stimuli.1.gz
    usr/share/man/man1/zel-test.1.gz
    usr/share/metainfo/org.zeltest.ZelTest.metainfo.xml
)
diff -u <(printf '%s\n' "${expected[@]}" | sort) <(cd "$root" && find . -type f -printf '%P\n' | sort)
echo "file list: as expected"

# The tool runs from the unpacked tree and gives the first trial of every launch.
"$root/usr/bin/zel-stimuli" --trials 1 | grep -qx 'trial=1 correct=1 standard_level=29832 target_level=17507'
echo "zel-stimuli: runs"

# The window starts and keeps running until it is stopped (124 is timeout's own status).
status=0
# No sound server, so the desktop's volumes are left alone.
ZEL_SOUND=server PULSE_SERVER=unix:/nonexistent QT_QPA_PLATFORM=offscreen timeout 3 "$root/usr/bin/zel-test" >/dev/null 2>&1 || status=$?
if [ "$status" -ne 124 ]; then
    echo "zel-test ended with status $status within 3 s" >&2
    exit 1
fi
echo "zel-test: runs"

appstreamcli validate --no-net "$root/usr/share/metainfo/org.zeltest.ZelTest.metainfo.xml"
desktop-file-validate "$root/usr/share/applications/org.zeltest.ZelTest.desktop"
lintian --fail-on error "$deb"
echo "lintian: no errors"
