#!/usr/bin/env bash
# Each agent library exports exactly the three entry points and needs only
# the platform library and the C and C++ runtimes.
set -u
status=0
for library in "$@"; do
  exports=$(nm -D --defined-only "$library" | awk '{print $3}' | sort | tr '\n' ' ')
  if [ "$exports" != "SnmpExtensionInit SnmpExtensionQuery SnmpExtensionTrap " ]; then
    echo "$library exports: $exports"
    status=1
  fi
  needed=$(readelf -d "$library" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p')
  for name in $needed; do
    case "$name" in
      libntplatform.so|libc.so.*|libstdc++.so.*|libm.so.*|libgcc_s.so.*|libasan.so.*|libubsan.so.*) ;;
      *) echo "$library needs $name"; status=1 ;;
    esac
  done
  echo "$library: exports $exports; needs $(echo $needed)"
done
exit $status
