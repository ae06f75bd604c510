#!/usr/bin/env bash
# Checks a built package the way Debian and systemd would, and prints its figures:
# size and dependencies, lintian, the desktop entry, the manual pages, `systemd-analyze
# verify` on an install tree and the unit's `systemd-analyze security` exposure.
# usage: packaging/check.sh PACKAGE.deb
set -euo pipefail
deb=$(realpath "$1")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failed=0

echo "== package: $(basename "$deb"), $(stat -c %s "$deb") bytes," \
     "installed $(dpkg-deb -f "$deb" Installed-Size) KiB"
echo "== depends: $(dpkg-deb -f "$deb" Depends)"

echo "== lintian"
lintian --pedantic --display-info "$deb" 2>&1 | grep -v "running with root privileges" \
  > "$work/lintian" || true
cat "$work/lintian"
if grep -q '^E:' "$work/lintian"; then failed=1; fi
echo "lintian: $(grep -c '^E:' "$work/lintian" || true) errors," \
     "$(grep -c '^W:' "$work/lintian" || true) warnings," \
     "$(grep -c '^[IP]:' "$work/lintian" || true) info/pedantic"

root=$work/root
dpkg-deb -x "$deb" "$root"

echo "== desktop-file-validate"
desktop-file-validate "$root/usr/share/applications/touchcal.desktop" || failed=1

echo "== mandoc -T lint"
for page in "$root"/usr/share/man/man1/*.1.gz; do
  mandoc -T lint -W style "$page" || failed=1
done

# The unit's dependencies (sysinit.target ...) come from this machine's units.
echo "== systemd-analyze verify"
cp -rn /lib/systemd/system/. "$root/usr/lib/systemd/system/" 2>/dev/null || true
systemd-analyze verify --man=no --root="$root" touchcal.service || failed=1

echo "== systemd-analyze security"
systemd-analyze security --offline=true --root="$root" --threshold=20 touchcal.service \
  > "$work/security" 2>&1 || failed=1
grep -E '✗|Overall' "$work/security"

[ "$failed" = 0 ] && echo "package-check: passed" || echo "package-check: FAILED"
exit "$failed"
