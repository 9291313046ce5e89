#!/usr/bin/env bash
# The objects compiled for AVX2 and AVX-512 may define nothing but their
# entry points: an inline function emitted there could be the copy the linker
# keeps for the baseline code, and fault on processors without those
# instructions.
#
#   wide_objects_test.sh "<object>;<object>;..."
set -euo pipefail
IFS=';' read -r -a objects <<<"$1"
checked=0
for o in "${objects[@]}"; do
  case $o in
  *chunk_scan_avx*)
    symbols=$(nm -C --defined-only "$o")
    extra=$(grep -E ' [TWVu] ' <<<"$symbols" | grep -Ev ' scan_(chunks|html)_avx' || true)
    if [ -n "$extra" ]; then
      echo "$o defines more than its entry point:"
      echo "$extra"
      exit 1
    fi
    checked=$((checked + 1))
    ;;
  esac
done
[ "$checked" -gt 0 ] || { echo "no AVX objects among: $1"; exit 1; }
echo "$checked AVX objects define only their entry points"
