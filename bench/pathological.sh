#!/usr/bin/env bash
# Times quib on inputs built to hurt a scanner, against the same size of the
# German corpus, in one run: a linear scanner keeps every ratio small. Each
# input with the default conversion and with --html.
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
time_of() { /usr/bin/time -f '%e %M' "$quib" "$@" 2>&1 | tail -1; }
m=104857600

printf '%-22s %10s %8s %12s %9s %12s\n' input bytes seconds "peak KiB" "--html s" "peak KiB"
for entry in "lt:b'<':$n" "amp:b'&':$n" "quote:b'\"':$n" "backslash:b'\\\\\\\\':$n" \
            "lt-gt:b'<>':$n" "amp-quote:b'&\"':$n" "long-line:b'x':$m" \
            "lt-100MiB:b'<':$m" "amp-100MiB:b'&':$m" "quote-100MiB:b'\"':$m" \
            "backslash-100MiB:b'\\\\\\\\':$((m / 2))" "gt-100MiB:b'>':$m" \
            "x-gt-100MiB:b'x>':$((m / 2))"; do
  IFS=: read -r name pattern count <<<"$entry"
  f=$(make_input "$name" "$pattern" "$count")
  read -r s kib <<<"$(time_of "$f" /dev/null)"
  read -r hs hkib <<<"$(time_of "$f" /dev/null --html)"
  printf '%-22s %10s %8s %12s %9s %12s\n' "$name" "$(stat -c %s "$f")" "$s" "$kib" "$hs" "$hkib"
done
read -r s kib <<<"$(time_of "$normal" /dev/null)"
printf '%-22s %10s %8s %12s\n' "German corpus" "$(stat -c %s "$normal")" "$s" "$kib"
