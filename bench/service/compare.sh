#!/bin/sh
# The SNMP service against Net-SNMP's own snmpd: both serve dot3StatsTable
# and hrDeviceTable on loopback, and snmp_load measures each, alternating,
# for GETNEXT walks, GETBULK walks and GETs with several requests
# outstanding. Prints requests/s, median and 99th-percentile latency of each
# agent and the ratio ours/snmpd.
#
#   bench/service/compare.sh [--memory] [BUILD_DIR]
#
# BUILD_DIR defaults to build. REQUESTS (default 50000) is the number of
# answers per run, ROUNDS (default 3) the number of alternations,
# OUTSTANDING (default 4) the requests in flight, BULK (default 10) the
# GETBULK max-repetitions. --memory instead runs one million GETNEXTs
# against the service alone (run.sh) for its resident memory and open
# descriptors before and after.
#
# The tables are compared as they stand: ours has a row for each of two
# simulated adapters; snmpd's dot3StatsTable has a row for each Ethernet-like
# interface of this machine and its hrDeviceTable one for each processor,
# network interface, disk... it finds. Walks of different lengths are
# compared per request, not per walk. snmpd runs with a private
# configuration in a temporary folder, its etherlike and hr_device modules on.
set -eu

if [ "${1:-}" = "-h" ] || [ "${1:-}" = "--help" ]; then
    sed -n '2,22p' "$0" | sed 's/^# \{0,1\}//'
    exit 0
fi
here=$(cd "$(dirname "$0")" && pwd)
if [ "${1:-}" = "--memory" ]; then
    shift
    exec "$here/run.sh" "${1:-build}" 1000000
fi

build=${1:-build}
requests=${REQUESTS:-50000}
rounds=${ROUNDS:-3}
outstanding=${OUTSTANDING:-4}
bulk=${BULK:-10}
bin=$(cd "$build/bin" && pwd)
load=$(cd "$build/bench" && pwd)/snmp_load
snmpd=/usr/sbin/snmpd
[ -x "$snmpd" ] || { echo "compare.sh: $snmpd is not installed" >&2; exit 1; }

free_port() {
    python3 -c 'import socket; s=socket.socket(socket.AF_INET, socket.SOCK_DGRAM); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}
ours_port=$(free_port)
theirs_port=$(free_port)

folder=$(mktemp -d "${TMPDIR:-/tmp}/snmpsvc-compare-XXXXXX")
NTROOT=$folder/root
export NTROOT
MIBS=
export MIBS
cleanup() {
    "$bin/NET" STOP SNMP >/dev/null 2>&1 || true
    if [ -f "$folder/snmpd/snmpd.pid" ]; then
        pid=$(cat "$folder/snmpd/snmpd.pid")
        kill "$pid" 2>/dev/null || true
        tries=0
        while kill -0 "$pid" 2>/dev/null && [ "$tries" -lt 50 ]; do
            sleep 0.1
            tries=$((tries + 1))
        done
    fi
    rm -rf "$folder"
}
trap cleanup EXIT INT TERM

# Our service: a root with both agents and two simulated adapters.
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
echo "agentaddress udp:127.0.0.1:$ours_port" > "$NTROOT/snmp/snmpsvc.conf"
"$bin/NET" START SNMP >/dev/null

# snmpd with its own modules, private files, on another port.
mkdir -m 0700 "$folder/snmpd"
cat > "$folder/snmpd/snmpd.conf" <<EOF
rocommunity public 127.0.0.1
dontLogTCPWrappersConnects yes
EOF
SNMP_PERSISTENT_DIR=$folder/snmpd "$snmpd" -C -c "$folder/snmpd/snmpd.conf" \
    -p "$folder/snmpd/snmpd.pid" -Lf "$folder/snmpd/snmpd.log" -I -smux \
    "udp:127.0.0.1:$theirs_port"
mkdir -p "$folder/client"
client() {
    SNMPCONFPATH=$folder/client SNMP_PERSISTENT_DIR=$folder/client \
        "/usr/bin/$1" -On -t 2 -r 2 -v2c -c public "udp:127.0.0.1:$2" "$3"
}
tries=0
until client snmpget "$theirs_port" .1.3.6.1.2.1.1.3.0 >/dev/null 2>&1; do
    tries=$((tries + 1))
    [ "$tries" -lt 50 ] || { echo "compare.sh: snmpd did not start" >&2; exit 1; }
    sleep 0.2
done

# The first object of a column, for the GETs.
first_of() {
    client snmpgetnext "$1" "$2" | sed -n '1s/ = .*//p'
}

# One run: "rate p50 p99" (requests/s, microseconds).
measure() {
    # shellcheck disable=SC2086
    "$load" --requests "$requests" --outstanding "$outstanding" $1 "udp:127.0.0.1:$2" |
        awk '/^rate/ {rate = $2} /^latency/ {p50 = $3; p99 = $9} END {print rate, p50, p99}'
}

printf '%-14s %-14s %-7s %10s %9s %9s\n' table operation agent "requests/s" "p50 us" "p99 us"
for table in dot3StatsTable:.1.3.6.1.2.1.10.7.2 hrDeviceTable:.1.3.6.1.2.1.25.3.2; do
    name=${table%%:*}
    subtree=${table#*:}
    for operation in GETNEXT GETBULK GET; do
        sums="0 0 0 0 0 0"
        round=0
        while [ "$round" -lt "$rounds" ]; do
            line=""
            for port in "$ours_port" "$theirs_port"; do
                case $operation in
                    GETNEXT) options="--subtree --start $subtree" ;;
                    GETBULK) options="--subtree --bulk $bulk --start $subtree" ;;
                    GET) options="--get --start $(first_of "$port" "$subtree.1.2")" ;;
                esac
                line="$line $(measure "$options" "$port")"
            done
            sums=$(echo "$sums $line" | awk '{print $1+$7, $2+$8, $3+$9, $4+$10, $5+$11, $6+$12}')
            round=$((round + 1))
        done
        echo "$sums" | awk -v t="$name" -v o="$operation" -v n="$rounds" '{
            printf "%-14s %-14s %-7s %10.0f %9.0f %9.0f\n", t, o, "ours", $1/n, $2/n, $3/n
            printf "%-14s %-14s %-7s %10.0f %9.0f %9.0f\n", "", "", "snmpd", $4/n, $5/n, $6/n
            printf "%-14s %-14s %-7s %9.2fx %8.2fx %8.2fx\n", "", "", "ratio", $1/$4, $2/$5, $3/$6
        }'
    done
done
echo "($rounds rounds of $requests answers, $outstanding outstanding, GETBULK x$bulk;" \
     "ratio = ours / snmpd, means over the rounds)"
