#!/usr/bin/env bash
# Times quib on inputs built to hurt a scanner, against the same size of the
# German corpus, in one run: a linear scanner keeps every ratio small.
#
#   bench/pathological.sh [build-dir]
set -euo pipefail
build=${1:-build-release}
quib=$build/quib
work=${QUIB_BENCH_DIR:-/tmp/quib-bench}
mkdir -p "$work"
n=1000000
make_input() { # name byte-pattern count
  local f=$work/patho-$1
  [ -s "$f" ] || python3 -c "import sys; sys.stdout.buffer.write($2 * $3)" > "$f"
  echo "$f"
}
normal=$work/corpus-100.html
[ -s "$normal" ] || "$build/bench/quib_make_corpus" 100 > "$normal"
time_of() { /usr/bin/time -f '%e %M' "$quib" "$1" /dev/null 2>&1 | tail -1; }

printf '%-22s %10s %8s %12s\n' input bytes seconds "peak KiB"
for entry in "lt:b'<':$n" "amp:b'&':$n" "quote:b'\"':$n" "backslash:b'\\\\\\\\':$n" \
            "lt-gt:b'<>':$n" "amp-quote:b'&\"':$n" "long-line:b'x':104857600" \
            "lt-100MiB:b'<':104857600" "amp-100MiB:b'&':104857600"; do
  IFS=: read -r name pattern count <<<"$entry"
  f=$(make_input "$name" "$pattern" "$count")
  read -r s kib <<<"$(time_of "$f")"
  printf '%-22s %10s %8s %12s\n' "$name" "$(stat -c %s "$f")" "$s" "$kib"
done
read -r s kib <<<"$(time_of "$normal")"
printf '%-22s %10s %8s %12s\n' "German corpus" "$(stat -c %s "$normal")" "$s" "$kib"
