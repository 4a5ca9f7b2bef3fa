#!/usr/bin/env bash
# The whole story in a fresh NT root: the SNMP service installed, two
# simulated adapters made, mibsetup run unattended from build/bin to install
# both agents and restart the service, both tables read with snmpwalk, and
# the service stopped.
#   scripts/demo-setup.sh                 # builds build/, serves on 127.0.0.1:16161
#   PORT=1161 BUILD=build-asan scripts/demo-setup.sh
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

# Two simulated adapters: the driver's NDIS statistics, one a line.
cat > "$NTROOT/Device/Vxlnk1" <<'ADAPTER'
# Vxlnk1: a busy half-duplex segment
0x01020101 3      # alignment errors
0x0002020D 5      # FCS errors
0x01020102 120    # single collisions
0x01020103 41     # multiple collisions
0x01020205 0      # SQE test errors
0x01020201 17     # deferred transmissions
0x01020207 2      # late collisions
0x01020202 1      # excessive collisions
0x01020204 0      # internal MAC transmit errors
0x01020206 4      # carrier sense errors
0x01020203 0      # internal MAC receive errors
ADAPTER
cat > "$NTROOT/Device/Vxpci2" <<'ADAPTER'
# Vxpci2: a quiet full-duplex link
0x01020101 0
0x0002020D 1
0x01020102 0
0x01020103 0
0x01020205 0
0x01020201 0
0x01020207 0
0x01020202 0
0x01020204 0
0x01020206 0
0x01020203 7
ADAPTER

echo
echo "== mibsetup, unattended: OK to stop the service, Continue with both"
echo "== agents, Restart SNMP Now, OK"
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
