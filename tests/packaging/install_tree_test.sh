#!/usr/bin/env bash
# `cmake --install` into a private prefix, moved elsewhere afterwards: the
# installed programs find libntplatform.so relative to themselves, `snmpsvc
# install` finds NET and the MIB modules under the prefix, and mibsetup,
# started from the private library folder, installs both agents into a
# running service that then serves them.
#   install_tree_test.sh BUILD_DIR
set -euo pipefail
build=$1
work=$(mktemp -d /tmp/snmpsvc-install.XXXXXX)
export NTROOT=$work/root
cleanup() {
  "$work/moved/sbin/NET" STOP SNMP >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT
die() {
  echo "FAIL: $*"
  exit 1
}

cmake --install "$build" --prefix "$work/prefix" >/dev/null
mv "$work/prefix" "$work/moved"  # nothing may point back at the build or the prefix
prefix=$work/moved
private=$(dirname "$(find "$prefix/lib" -name libntplatform.so)")
[ -f "$private/ETHSTAT.DLL" ] && [ -f "$private/HOSTDEV.DLL" ] || die "no DLLs beside $private/libntplatform.so"
for program in snmpsvc NET ntroot mibsetup; do
  env -u LD_LIBRARY_PATH "$prefix/sbin/$program" --help >/dev/null || die "$program does not start"
done

"$prefix/sbin/ntroot" init >/dev/null
"$prefix/sbin/snmpsvc" install >/dev/null
[ "$(readlink "$NTROOT/Windows/System32/NET")" = "$prefix/sbin/NET" ] || die "System32/NET is not the installed NET"
[ -f "$NTROOT/mibs/EtherLike-MIB.txt" ] || die "no MIB modules in the root"
port=$((20000 + $$ % 20000))
echo "agentaddress udp:127.0.0.1:$port" >>"$NTROOT/snmp/snmpsvc.conf"
"$prefix/sbin/ntroot" device sim Vxlnk1 fcs=7 >/dev/null
"$prefix/sbin/NET" START SNMP >/dev/null
(cd "$private" && printf 'Enter\nEnter\nEnter\nEnter\n' | "$prefix/sbin/mibsetup") >"$work/setup.log" 2>&1 ||
  { cat "$work/setup.log"; die "mibsetup failed"; }
value=$(snmpget -v2c -c public -Oqv -r 1 -t 2 "udp:127.0.0.1:$port" 1.3.6.1.2.1.10.7.2.1.3.1) ||
  { cat "$work/setup.log" "$NTROOT/run/SNMP.log"; die "snmpget failed"; }
[ "$value" = 7 ] || { cat "$work/setup.log"; die "dot3StatsFCSErrors.1 is '$value', not 7"; }
"$prefix/sbin/NET" STOP SNMP >/dev/null
echo "The installed tree runs from $prefix."
