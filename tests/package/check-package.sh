#!/usr/bin/env bash
# Builds and unpacks the Debian package; checks its files, metadata, lintian's verdict and programs.
set -euo pipefail
deb=$("$1/scripts/package")
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
dpkg-deb -x "$deb" "$root"
diff -u - <(cd "$root" && find . -type f -printf '%P\n' | LC_ALL=C sort) <<'FILES'
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
FILES
appstreamcli validate --no-net "$root/usr/share/metainfo/org.zeltest.ZelTest.metainfo.xml"
desktop-file-validate "$root/usr/share/applications/org.zeltest.ZelTest.desktop"
lintian --fail-on error "$deb"
"$root/usr/bin/zel-stimuli" | grep -qx 'trial=1 correct=1 standard_level=29832 target_level=17507 standard_hz=998.662 target_hz=1049.807'
# The window keeps running until stopped (124: timeout's own status); with no sound server, the
# desktop's volumes are left alone.
ZEL_SOUND=server PULSE_SERVER=unix:/nonexistent QT_QPA_PLATFORM=offscreen \
    timeout 3 "$root/usr/bin/zel-test" >/dev/null 2>&1 && status=0 || status=$?
[ "$status" -eq 124 ] || { echo "zel-test ended with status $status within 3 s" >&2; exit 1; }
