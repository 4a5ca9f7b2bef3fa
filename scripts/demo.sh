#!/usr/bin/env bash
# The demo: installs what is missing, builds, then loads both agents against
# a fresh NT root with two simulated adapters and prints both tables.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
scripts/build.sh build

root=$(mktemp -d /tmp/ntroot-demo.XXXXXX)
trap 'rm -rf "$root"' EXIT
mkdir -p "$root/Device"

# Two simulated adapters: the driver's NDIS statistics, one a line.
cat > "$root/Device/Vxlnk1" <<'ADAPTER'
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
cat > "$root/Device/Vxpci2" <<'ADAPTER'
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

echo "NT root: $root (Device/Vxlnk1, Device/Vxpci2)"
echo
build/bin/agentwalk --root "$root" --table build/bin/ETHSTAT.DLL build/bin/HOSTDEV.DLL
