#!/bin/sh
# The SNMP service's benchmark: its resident memory before and after a
# million GETNEXTs over loopback, and the rate of a GETNEXT walk.
#
#   bench/service/run.sh [BUILD_DIR] [REQUESTS]
#
# BUILD_DIR defaults to build, REQUESTS to 1000000; PORT (default 11161)
# is the loopback UDP port the service listens on. Makes a root in a
# temporary folder (ntroot init, snmpsvc install, both agents registered as
# setup registers them, two simulated adapters), starts the service with
# NET, runs snmp_load against it and stops it again. Extra snmp_load
# options go in LOAD_OPTIONS (e.g. LOAD_OPTIONS="--bulk 10 --outstanding 4").
set -eu

build=${1:-build}
requests=${2:-1000000}
port=${PORT:-11161}
bin=$(cd "$build/bin" && pwd)
load=$(cd "$build/bench" && pwd)/snmp_load

folder=$(mktemp -d "${TMPDIR:-/tmp}/snmpsvc-bench-XXXXXX")
NTROOT=$folder/root
export NTROOT
cleanup() {
    "$bin/NET" STOP SNMP >/dev/null 2>&1 || true
    rm -rf "$folder"
}
trap cleanup EXIT INT TERM

"$bin/ntroot" init >/dev/null
"$bin/snmpsvc" install >/dev/null
cp "$bin/HOSTDEV.DLL" "$bin/ETHSTAT.DLL" "$NTROOT/Windows/System32/"
list='HKLM\SYSTEM\CurrentControlSet\Services\SNMP\Parameters\ExtensionAgents'
for agent in HOSTDEV ETHSTAT; do
    key="SOFTWARE\\VeltrixNetworkingCompanyInc\\${agent}Agent\\CurrentVersion"
    "$bin/ntroot" reg add "$list" /v "Veltrix$agent" /d "$key" /f >/dev/null
    "$bin/ntroot" reg add "HKLM\\$key" /v Pathname /t REG_EXPAND_SZ \
        /d "%SystemRoot%\\System32\\$agent.DLL" /f >/dev/null
done
for device in Vxlnk1 Vxpci2; do
    for statistic in 0x01020101 0x0002020D 0x01020102 0x01020103 0x01020205 \
                     0x01020201 0x01020207 0x01020202 0x01020204 0x01020206 0x01020203; do
        echo "$statistic 12345"
    done > "$NTROOT/Device/$device"
done
echo "agentaddress udp:127.0.0.1:$port" > "$NTROOT/snmp/snmpsvc.conf"

"$bin/NET" START SNMP
pid=$(cat "$NTROOT/run/SNMP.pid")
# shellcheck disable=SC2086
"$load" --pid "$pid" --requests "$requests" ${LOAD_OPTIONS:-} "udp:127.0.0.1:$port"
"$bin/NET" STOP SNMP
