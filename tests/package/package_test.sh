#!/usr/bin/env bash
# Builds the package from a built tree, then looks at it as dpkg would install it: the
# files and where they go, the dependencies, the maintainer scripts, and the extracted
# programs run.
# usage: package_test.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
build=$1 src=$2
command -v dpkg-deb >/dev/null || { echo "no dpkg-deb"; exit 77; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "package_test: $*" >&2; exit 1; }

(cd "$build" && cpack -B "$work/out" >"$work/cpack.log" 2>&1) || { cat "$work/cpack.log"; fail "cpack failed"; }
deb=$(ls "$work"/out/touchcal_*.deb)
dpkg-deb -c "$deb" | awk '{print $6}' | sed 's#^\./#/#' > "$work/files"

for f in /usr/bin/touchcal /usr/lib/udev/rules.d/70-touchcal.rules \
         /usr/lib/systemd/system/touchcal.service /usr/lib/sysusers.d/touchcal.conf \
         /usr/share/applications/touchcal.desktop \
         /usr/share/icons/hicolor/scalable/apps/touchcal.svg \
         /usr/share/man/man1/touchcal.1.gz /usr/share/man/man1/touchcal-station.1.gz \
         /usr/share/doc/touchcal/copyright /usr/share/doc/touchcal/changelog.gz; do
  grep -qx "$f" "$work/files" || fail "missing $f"
done
# Nothing outside /usr, nothing under /usr/local, no build paths.
if grep -v '^/usr/' "$work/files" | grep -v '^/$' | grep -q .; then fail "files outside /usr"; fi
if grep -q '^/usr/local' "$work/files"; then fail "files in /usr/local"; fi

depends=$(dpkg-deb -f "$deb" Depends)
for d in libqt6core6 libqt6widgets6 libudev1 libstdc++6 qt6-qpa-plugins; do
  [[ "$depends" == *"$d"* ]] || fail "Depends lacks $d: $depends"
done

dpkg-deb -e "$deb" "$work/control"
grep -q 'systemd-sysusers touchcal.conf' "$work/control/postinst" || fail "postinst applies no sysusers file"
grep -q 'udevadm control --reload' "$work/control/postinst" || fail "postinst reloads no udev rules"
if grep -Eq 'systemctl (--system )?(enable|start)|deb-systemd-helper enable' "$work/control"/*; then
  fail "a maintainer script enables or starts the service"
fi

root=$work/root
dpkg-deb -x "$deb" "$root"
grep -qx 'ExecStart=/usr/bin/touchcal --headless --workdir /var/lib/touchcal' \
  "$root/usr/lib/systemd/system/touchcal.service" || fail "unit does not start the installed program"
cmp "$root/usr/lib/udev/rules.d/70-touchcal.rules" "$src/packaging/udev/70-touchcal.rules" \
  || fail "the packaged rule is not the one for the built-in identifiers"

version=$("$root/usr/bin/touchcal" --version)
[[ "$version" == "touchcal $(dpkg-deb -f "$deb" Version) ("* ]] || fail "touchcal --version says: $version"
if grep -qx /usr/bin/touchcal-station "$work/files"; then
  "$root/usr/bin/touchcal-station" --help >"$work/station-help" 2>&1 || fail "touchcal-station --help failed"
  grep -q -- '--port' "$work/station-help" || fail "touchcal-station --help names no --port"
fi
echo "package_test: $(basename "$deb") $(stat -c %s "$deb") bytes; Depends: $depends"
