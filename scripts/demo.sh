#!/usr/bin/env bash
# The whole story in a fresh NT root: the SNMP service installed and
# running (with no agent yet), two simulated adapters made, mibsetup run
# unattended from build/bin (it stops the running service, installs both
# agents and starts the service again), both tables read with snmpwalk, and
# the service stopped.
#   scripts/demo.sh                 # builds build/, serves on 127.0.0.1:16161
#   PORT=1161 BUILD=build-asan scripts/demo.sh
set -euo pipefail
cd "$(dirname "$0")/.."
build=${BUILD:-build}
port=${PORT:-16161}
scripts/deps.sh
scripts/build.sh "$build"
bin=$PWD/$build/bin

export NTROOT
NTROOT=$(mktemp -d /tmp/ntroot-setup-demo.XXXXXX)
cleanup() {
  "$bin/NET" STOP SNMP >/dev/null 2>&1 || true  # if the demo stopped half way
  rm -rf "$NTROOT"
}
trap cleanup EXIT

echo "== A fresh NT root at $NTROOT, with the SNMP service"
"$bin/ntroot" init
"$bin/snmpsvc" install
mkdir -p "$NTROOT/snmp"
echo "agentaddress udp:127.0.0.1:$port" > "$NTROOT/snmp/snmpsvc.conf"

echo
echo "== Two simulated adapters: files in Device/ that stand for their drivers"
"$bin/ntroot" device sim Vxlnk1 alignment=3 fcs=5 single-collisions=120 \
  multiple-collisions=41 deferred=17 late-collisions=2 excessive-collisions=1 carrier-sense=4
"$bin/ntroot" device sim Vxpci2 fcs=1 mac-receive=7
"$bin/ntroot" device list

echo
echo "== The SNMP service runs, serving no agent yet"
"$bin/NET" START SNMP

echo
echo "== mibsetup, unattended: OK to stop the running service, Continue with"
echo "== both agents, Restart SNMP Now, OK"
(cd "$build/bin" && printf 'Enter\nEnter\nEnter\nEnter\n' | ./mibsetup)

echo
echo "== dot3StatsTable (RFC 1643), from ETHSTAT.DLL"
snmpwalk -v2c -c public -On "udp:127.0.0.1:$port" 1.3.6.1.2.1.10.7.2
echo
echo "== hrDeviceTable (RFC 1514), from HOSTDEV.DLL"
snmpwalk -v2c -c public -On "udp:127.0.0.1:$port" 1.3.6.1.2.1.25.3.2
echo
echo "== NET STOP SNMP"
"$bin/NET" STOP SNMP
