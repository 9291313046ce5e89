#!/usr/bin/env bash
# Times quib against cat on the same generated German HTML, in one run with
# alternating runs, and prints the medians, MB/s and the ratios to cat:
# into a file, into /dev/null, through a pipe, into /dev/null with --utf8,
# and into /dev/null with the umlauts written as entities; then quib's peak
# memory on two input sizes.
#
#   bench/compare.sh [build-dir] [megabytes] [runs]
set -euo pipefail
build=${1:-build-release}
mb=${2:-1024}
runs=${3:-7}
quib=$build/quib
corpus_tool=$build/bench/quib_make_corpus
work=${QUIB_BENCH_DIR:-/tmp/quib-bench}
mkdir -p "$work"
[ -x "$quib" ] && [ -x "$corpus_tool" ] || {
  echo "build first: cmake -S . -B $build -DCMAKE_BUILD_TYPE=Release -DQUIB_BENCHMARKS=ON && cmake --build $build" >&2
  exit 2
}
input=$work/corpus-$mb.html
[ -s "$input" ] || "$corpus_tool" "$mb" > "$input"
# The same text with every umlaut and sharp s written as an entity, as older
# German pages have it: about one entity in 19 bytes.
entities=$work/corpus-$mb-entities.html
[ -s "$entities" ] || LC_ALL=C sed -e 's/\xe4/\&auml;/g; s/\xf6/\&ouml;/g; s/\xfc/\&uuml;/g' \
  -e 's/\xc4/\&Auml;/g; s/\xd6/\&Ouml;/g; s/\xdc/\&Uuml;/g; s/\xdf/\&szlig;/g' \
  "$input" > "$entities"
cat "$input" "$entities" > /dev/null # into the page cache

seconds() { # command...: wall seconds of one run
  local t0 t1
  t0=$(date +%s.%N)
  "$@"
  t1=$(date +%s.%N)
  echo "$t1 - $t0" | bc -l
}
median() { sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }

declare -A times
names=()
add() { # name command...
  local name=$1; shift
  names+=("$name")
  times[$name]=""
}
to_file_cat() { rm -f "$work/out.cat"; cat "$input" > "$work/out.cat"; }
to_file_quib() { rm -f "$work/out.quib"; "$quib" "$input" "$work/out.quib"; }
to_null_cat() { cat "$input" > /dev/null; }
to_null_quib() { "$quib" "$input" /dev/null; }
pipe_cat() { cat "$input" | cat > /dev/null; }
pipe_quib() { "$quib" "$input" /dev/stdout | cat > /dev/null; }
utf8_null_cat() { cat "$input" > /dev/null; }
utf8_null_quib() { "$quib" "$input" /dev/null --utf8; }
entities_null_cat() { cat "$entities" > /dev/null; }
entities_null_quib() { "$quib" "$entities" /dev/null; }

pairs=(to_file to_null pipe utf8_null entities_null)
for i in $(seq "$runs"); do
  for p in "${pairs[@]}"; do
    sync
    times[${p}_cat]+="$(seconds ${p}_cat) "
    sync
    times[${p}_quib]+="$(seconds ${p}_quib) "
  done
done
printf '%s MiB input, %s runs each, medians\n' "$mb" "$runs"
printf '%-13s %10s %10s %10s %10s %8s\n' target "cat s" "quib s" "cat MB/s" "quib MB/s" ratio
for p in "${pairs[@]}"; do
  bytes=$(stat -c %s "$input")
  [ "$p" = entities_null ] && bytes=$(stat -c %s "$entities")
  c=$(tr ' ' '\n' <<<"${times[${p}_cat]}" | grep . | median)
  q=$(tr ' ' '\n' <<<"${times[${p}_quib]}" | grep . | median)
  printf '%-13s %10.3f %10.3f %10.0f %10.0f %8.2f\n' "$p" "$c" "$q" \
    "$(echo "$bytes / $c / 1000000" | bc -l)" "$(echo "$bytes / $q / 1000000" | bc -l)" \
    "$(echo "$q / $c" | bc -l)"
done

# Peak memory: 100 MiB against the full input, and the bare process (help);
# medians of alternating runs, as single runs here spread by about 100 KiB
# whatever the input.
small=$work/corpus-100.html
[ -s "$small" ] || "$corpus_tool" 100 > "$small"
rss() { /usr/bin/time -f %M "$@" 2>&1 >/dev/null | tail -1; }
bare_kib="" small_kib="" full_kib=""
for i in $(seq "$runs"); do
  bare_kib+="$(rss "$quib" || true) "
  small_kib+="$(rss "$quib" "$small" /dev/null) "
  full_kib+="$(rss "$quib" "$input" /dev/null) "
done
med() { tr ' ' '\n' <<<"$1" | grep . | median; }
echo "peak memory (KiB, medians): bare $(med "$bare_kib"), 100 MiB $(med "$small_kib"), $mb MiB $(med "$full_kib")"
