#!/bin/sh
# The SNMP service against Net-SNMP's own snmpd, serving the same live
# interface: GETNEXT walks, GETBULK walks and GETs of dot3StatsTable and
# hrDeviceTable, one request at a time and with several outstanding, the
# two daemons alternating in rounds. Prints, for each, requests/s, median
# and 99th-percentile latency and the server's CPU time per request (from
# /proc/PID/schedstat, the steadiest figure on a busy machine), with the
# ratio ours/snmpd; and the floor: the same client against snmp_echo, which
# answers each request with itself.
#
#   bench/service/compare.sh [--memory] [BUILD_DIR]
#
# BUILD_DIR defaults to build. IFACE (default eth0, else lo) is the
# interface both serve: ours through the root's adapters Vxlnk1 and Vxpci2
# linked to it (`ntroot device link`), snmpd from the kernel. REQUESTS
# (default 20000) is the number of answers per run, ROUNDS (default 3) the
# number of alternations, OUTSTANDING (default 4) the requests in flight
# in the second mode, BULK (default 10) the GETBULK max-repetitions.
# --memory instead runs one million GETNEXTs against the service alone
# (run.sh) for its resident memory and open descriptors before and after.
#
# Walks are compared per request: snmpd's tables have a row for each of its
# own devices (processors, disks, interfaces), ours one for each adapter.
# snmpd runs with a private configuration in a temporary folder.
set -eu

if [ "${1:-}" = "-h" ] || [ "${1:-}" = "--help" ]; then
    sed -n '2,24p' "$0" | sed 's/^# \{0,1\}//'
    exit 0
fi
here=$(cd "$(dirname "$0")" && pwd)
if [ "${1:-}" = "--memory" ]; then
    shift
    exec "$here/run.sh" "${1:-build}" 1000000
fi

build=${1:-build}
requests=${REQUESTS:-20000}
rounds=${ROUNDS:-3}
outstanding=${OUTSTANDING:-4}
bulk=${BULK:-10}
iface=${IFACE:-eth0}
[ -d "/sys/class/net/$iface" ] || iface=lo
bin=$(cd "$build/bin" && pwd)
load=$(cd "$build/bench" && pwd)/snmp_load
echo_server=$(cd "$build/bench" && pwd)/snmp_echo
snmpd=/usr/sbin/snmpd
[ -x "$snmpd" ] || { echo "compare.sh: $snmpd is not installed" >&2; exit 1; }

free_port() {
    python3 -c 'import socket; s=socket.socket(socket.AF_INET, socket.SOCK_DGRAM); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}
ours_port=$(free_port)
theirs_port=$(free_port)
echo_port=$(free_port)

folder=$(mktemp -d "${TMPDIR:-/tmp}/snmpsvc-compare-XXXXXX")
NTROOT=$folder/root
export NTROOT
MIBS=
export MIBS
echo_pid=
cleanup() {
    "$bin/NET" STOP SNMP >/dev/null 2>&1 || true
    [ -z "$echo_pid" ] || kill "$echo_pid" 2>/dev/null || true
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

# Our service: a root with both agents, both adapters linked to the
# interface.
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
    "$bin/ntroot" device link "$device" "$iface" >/dev/null
done
echo "agentaddress udp:127.0.0.1:$ours_port" > "$NTROOT/snmp/snmpsvc.conf"
"$bin/NET" START SNMP >/dev/null
ours_pid=$(cat "$NTROOT/run/SNMP.pid")

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
theirs_pid=$(cat "$folder/snmpd/snmpd.pid")
"$echo_server" "$echo_port" &
echo_pid=$!

# The first object of a column, for the GETs.
first_of() {
    client snmpgetnext "$1" "$2" | sed -n '1s/ = .*//p'
}

# One run: "rate p50 p99 cpu" (requests/s, microseconds, microseconds of
# the server's CPU per request).
measure() {
    # shellcheck disable=SC2086
    "$load" --requests "$requests" --outstanding "$3" --pid "$4" $1 "udp:127.0.0.1:$2" |
        awk '/^rate/ {rate = $2} /^latency/ {p50 = $3; p99 = $9} /^agent cpu/ {cpu = $3}
             END {print rate, p50, p99, cpu}'
}

echo "interface $iface; $rounds rounds of $requests answers; means over the rounds;" \
     "ratio = ours / snmpd"
printf '%-14s %-9s %3s  %-6s %10s %8s %8s %9s\n' table operation out agent "requests/s" \
    "p50 us" "p99 us" "cpu us/r"
for table in dot3StatsTable:.1.3.6.1.2.1.10.7.2 hrDeviceTable:.1.3.6.1.2.1.25.3.2; do
    name=${table%%:*}
    subtree=${table#*:}
    for operation in GETNEXT GETBULK GET; do
        for inflight in 1 "$outstanding"; do
            sums="0 0 0 0 0 0 0 0"
            round=0
            while [ "$round" -lt "$rounds" ]; do
                line=""
                for daemon in ours theirs; do
                    if [ "$daemon" = ours ]; then
                        port=$ours_port pid=$ours_pid
                    else
                        port=$theirs_port pid=$theirs_pid
                    fi
                    case $operation in
                        GETNEXT) options="--subtree --start $subtree" ;;
                        GETBULK) options="--subtree --bulk $bulk --start $subtree" ;;
                        GET) options="--get --start $(first_of "$port" "$subtree.1.2")" ;;
                    esac
                    line="$line $(measure "$options" "$port" "$inflight" "$pid")"
                done
                sums=$(echo "$sums $line" | awk '{for (i = 1; i <= 8; i++) printf "%s ", $i + $(i + 8)}')
                round=$((round + 1))
            done
            echo "$sums" | awk -v t="$name" -v o="$operation" -v k="$inflight" -v n="$rounds" '{
                printf "%-14s %-9s %3s  %-6s %10.0f %8.0f %8.0f %9.1f\n", t, o, k, "ours", $1/n, $2/n, $3/n, $4/n
                printf "%-14s %-9s %3s  %-6s %10.0f %8.0f %8.0f %9.1f\n", "", "", "", "snmpd", $5/n, $6/n, $7/n, $8/n
                printf "%-14s %-9s %3s  %-6s %9.2fx %7.2fx %7.2fx %8.2fx\n", "", "", "", "ratio", $1/$5, $2/$6, $3/$7, $4/$8
            }'
        done
    done
done
for inflight in 1 "$outstanding"; do
    sums="0 0 0 0"
    round=0
    while [ "$round" -lt "$rounds" ]; do
        sums="$sums $(measure "--start .1.3.6.1.2.1.10.7.2" "$echo_port" "$inflight" "$echo_pid")"
        sums=$(echo "$sums" | awk '{print $1+$5, $2+$6, $3+$7, $4+$8}')
        round=$((round + 1))
    done
    echo "$sums" | awk -v k="$inflight" -v n="$rounds" '{
        printf "%-14s %-9s %3s  %-6s %10.0f %8.0f %8.0f %9.1f\n", "(floor)", "echo", k, "echo", $1/n, $2/n, $3/n, $4/n
    }'
done
