#!/usr/bin/env bash
# Builds the Debian package (from the already built tree, as debian/rules
# allows, so that it takes seconds), installs it with dpkg, runs the
# installed programs against a private NT root (init, install, mibsetup from
# the installed folder, start, snmpget, stop), then purges the package and
# checks that nothing of it is left. It changes the machine, so it runs only
# as root, on a machine of its own (CI).
#   package_test.sh SOURCE_DIR BUILD_DIR
set -euo pipefail
source_dir=$1
build_dir=$2

skip() {
  echo "SKIP: $*"
  exit 77
}
[ "$(id -u)" -eq 0 ] || skip "installs a package: runs only as root"
command -v dpkg-buildpackage >/dev/null || skip "dpkg-buildpackage is not installed (dpkg-dev)"
command -v dh >/dev/null || skip "debhelper is not installed"
command -v snmpget >/dev/null || skip "snmpget is not installed (snmp)"
if dpkg-query -W -f='${Status}' snmpsvc 2>/dev/null | grep -q 'ok installed\|config-files'; then
  echo "Purging snmpsvc left by an earlier run"
  dpkg --purge snmpsvc >/dev/null
fi
[ ! -e /var/lib/ntroot ] || skip "/var/lib/ntroot exists without the package: not ours to purge"

work=$(mktemp -d /tmp/snmpsvc-package.XXXXXX)
root=$(mktemp -d /tmp/snmpsvc-package-root.XXXXXX)
cleanup() {
  NTROOT=$root /usr/sbin/NET STOP SNMP >/dev/null 2>&1 || true
  if dpkg-query -W snmpsvc >/dev/null 2>&1; then
    dpkg --purge snmpsvc >/dev/null 2>&1 || true
  fi
  rm -rf "$work" "$root"
}
trap cleanup EXIT

step() { echo "== $*"; }
die() {
  echo "FAIL: $*"
  exit 1
}

step "Building the package from $build_dir (dpkg-buildpackage -us -uc -b)"
mkdir "$work/src"
tar -C "$source_dir" --exclude='./build*' --exclude='./.git' --exclude='./obj-*' \
  --exclude='./debian/snmpsvc' --exclude='./debian/.debhelper' -cf - . | tar -C "$work/src" -xf -
if ! (cd "$work/src" && SNMPSVC_BUILT_TREE=$build_dir DEB_BUILD_OPTIONS=nocheck \
        dpkg-buildpackage -us -uc -b >"$work/build.log" 2>&1); then
  tail -n 40 "$work/build.log"
  die "dpkg-buildpackage failed"
fi
deb=$(ls "$work"/snmpsvc_*.deb)

if command -v lintian >/dev/null; then
  step "lintian"
  lintian --fail-on error,warning "$deb" || die "lintian finds errors or warnings"
fi

step "Installing $(basename "$deb")"
dpkg -i "$deb" >"$work/install.log" 2>&1 || { cat "$work/install.log"; die "dpkg -i failed"; }
getent passwd snmpsvc >/dev/null || die "no system user snmpsvc"
[ "$(stat -c %U "/var/lib/ntroot")" = snmpsvc ] || die "/var/lib/ntroot is not the user's"
[ -f /var/lib/ntroot/registry.db ] || die "the system root is not initialised"
runuser -u snmpsvc -- /usr/sbin/ntroot --root /var/lib/ntroot reg query \
  'HKLM\SYSTEM\CurrentControlSet\Services\SNMP' >/dev/null ||
  die "the service is not installed in the system root"
private=/usr/lib/snmpsvc
for file in /usr/sbin/snmpsvc /usr/sbin/NET /usr/sbin/ntroot /usr/sbin/mibsetup \
  /usr/bin/agentwalk "$private/libntplatform.so" "$private/ETHSTAT.DLL" "$private/HOSTDEV.DLL" \
  /usr/share/snmpsvc/mibs/EtherLike-MIB.txt /lib/systemd/system/snmpsvc.service \
  /usr/share/man/man8/snmpsvc.8.gz /usr/share/man/man5/snmpsvc.conf.5.gz; do
  [ -e "$file" ] || die "the package has no $file"
done

step "The installed programs against a private root"
export NTROOT=$root
port=$((20000 + $$ % 20000))
/usr/sbin/ntroot init
/usr/sbin/snmpsvc install
echo "agentaddress udp:127.0.0.1:$port" >"$NTROOT/snmp/snmpsvc.conf"
/usr/sbin/ntroot device sim Vxlnk1 fcs=5
/usr/sbin/NET START SNMP
step "mibsetup from $private, unattended"
(cd "$private" && printf 'Enter\nEnter\nEnter\nEnter\n' | /usr/sbin/mibsetup) >"$work/setup.log" 2>&1 ||
  { cat "$work/setup.log"; die "mibsetup failed"; }
value=$(snmpget -v2c -c public -Oqv "udp:127.0.0.1:$port" 1.3.6.1.2.1.10.7.2.1.3.1) ||
  { cat "$work/setup.log" "$NTROOT/run/SNMP.log"; die "snmpget failed"; }
[ "$value" = 5 ] || die "dot3StatsFCSErrors.1 is '$value', not 5"
/usr/sbin/NET STOP SNMP

step "Purging"
dpkg -L snmpsvc | while read -r path; do [ -f "$path" ] && echo "$path"; done >"$work/files"
dpkg --purge snmpsvc >"$work/purge.log" 2>&1 || { cat "$work/purge.log"; die "dpkg --purge failed"; }
if dpkg -L snmpsvc >/dev/null 2>&1; then die "dpkg still lists files of snmpsvc"; fi
[ ! -e /var/lib/ntroot ] || die "/var/lib/ntroot is left after the purge"
while read -r path; do
  [ ! -e "$path" ] || die "$path is left after the purge"
done <"$work/files"
[ ! -e /etc/systemd/system/multi-user.target.wants/snmpsvc.service ] ||
  die "the unit is still enabled after the purge"
echo "The package builds, installs, serves and purges cleanly."
