#!/usr/bin/env bash
# Times quib against cat on generated German HTML, in alternating runs, and
# prints medians and ratios from the same run:
#   - three corpora: the bench pages, prose-dense pages (an '&' every ~72
#     bytes, &quot; every KB), documentation pages (a '"' and a '<' every ~24
#     bytes, mostly in attributes);
#   - into a file, into /dev/null and through a pipe, against cat, cat and
#     cat | cat;
#   - --html and --check into /dev/null, against the plain conversion; and
#     --html on pages with scripts and code samples;
#   - every vector implementation this processor runs (QUIB_IMPLEMENTATION),
#     so the AVX2 path is measured also where AVX-512 would be chosen.
# Then quib's peak memory for two input sizes.
#
#   bench/compare.sh [build-dir] [megabytes] [runs] [corpora...]
#   QUIB_BENCH_ROWS='file' bench/compare.sh ...   # the rows into a file only
set -euo pipefail
build=${1:-build-release}
mb=${2:-1024}
runs=${3:-7}
shift $(( $# < 3 ? $# : 3 ))
corpora=("$@")
[ ${#corpora[@]} -gt 0 ] || corpora=(bench dense docs)
quib=$build/quib
corpus_tool=$build/bench/quib_make_corpus
work=${QUIB_BENCH_DIR:-/tmp/quib-bench}
mkdir -p "$work"
[ -x "$quib" ] && [ -x "$corpus_tool" ] || {
  echo "build first: cmake -S . -B $build -DCMAKE_BUILD_TYPE=Release -DQUIB_BENCHMARKS=ON && cmake --build $build" >&2
  exit 2
}
corpus() { # kind -> path
  local f=$work/$1-$mb.html
  [ -s "$f" ] || "$corpus_tool" "$mb" "$1" > "$f"
  echo "$f"
}
impls=()
: > "$work/empty"
for impl in avx512 avx2 sse2; do
  QUIB_IMPLEMENTATION=$impl "$quib" "$work/empty" /dev/null 2>/dev/null && impls+=("$impl")
done
[ ${#impls[@]} -gt 0 ] || impls=(portable)
echo "processor: $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'); implementations: ${impls[*]}"

seconds() { local t0 t1; t0=$(date +%s.%N); "$@"; t1=$(date +%s.%N); echo "$t1 - $t0" | bc -l; }
median() { tr ' ' '\n' | grep . | sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }

# A row: a label, a baseline command and quib's command, run alternately.
declare -a labels base_cmds quib_cmds
# QUIB_BENCH_ROWS, an extended regular expression, keeps only the rows whose
# labels it matches (e.g. 'file' or 'docs avx2').
row() {
  [[ -z ${QUIB_BENCH_ROWS:-} || $1 =~ $QUIB_BENCH_ROWS ]] || return 0
  labels+=("$1"); base_cmds+=("$2"); quib_cmds+=("$3")
}
for kind in "${corpora[@]}"; do
  f=$(corpus "$kind")
  cat "$f" > /dev/null
  for impl in "${impls[@]}"; do
    q="QUIB_IMPLEMENTATION=$impl $quib"
    row "$kind $impl file" "cat $f > $work/out.cat" "$q $f $work/out.quib"
    row "$kind $impl null" "cat $f > /dev/null" "$q $f /dev/null"
    row "$kind $impl pipe" "cat $f | cat > /dev/null" "$q $f - | cat > /dev/null"
    row "$kind $impl --html / plain" "$q $f /dev/null" "$q $f /dev/null --html"
    row "$kind $impl --check / plain" "$q $f /dev/null" "$q $f /dev/null --check 2>/dev/null || true"
  done
done
f=$(corpus scripts)
cat "$f" > /dev/null
for impl in "${impls[@]}"; do
  q="QUIB_IMPLEMENTATION=$impl $quib"
  row "scripts $impl --html / plain" "$q $f /dev/null" "$q $f /dev/null --html"
done

declare -a base_t quib_t
# The outputs of the file rows are removed before each command, untimed: on
# a file system that discards freed blocks, removing 1 GiB takes longer
# than writing it, and would hide the difference between the two.
fresh() { rm -f "$work/out.cat" "$work/out.quib"; sync; }
# The two commands of a row take turns going first, so neither always runs
# in the wake of the other (its freed pages, its writing left to the kernel).
for i in $(seq "$runs"); do
  for r in "${!labels[@]}"; do
    if (( i % 2 )); then
      fresh; b=$(seconds sh -c "${base_cmds[$r]}")
      fresh; q=$(seconds sh -c "${quib_cmds[$r]}")
    else
      fresh; q=$(seconds sh -c "${quib_cmds[$r]}")
      fresh; b=$(seconds sh -c "${base_cmds[$r]}")
    fi
    base_t[$r]+="$b " quib_t[$r]+="$q "
  done
done
printf '%s MiB per corpus, %s alternating runs, medians\n' "$mb" "$runs"
printf '%-34s %10s %10s %8s\n' row "base s" "quib s" ratio
for r in "${!labels[@]}"; do
  b=$(median <<<"${base_t[$r]}")
  q=$(median <<<"${quib_t[$r]}")
  printf '%-34s %10.3f %10.3f %8.2f\n' "${labels[$r]}" "$b" "$q" "$(echo "$q / $b" | bc -l)"
done

# Peak memory: a tenth of the input against the whole; medians, as single
# runs here spread by about 100 KiB whatever the input.
f=$(corpus "${corpora[0]}")
small=$work/small-$mb.html
head -c $((mb * 1024 * 1024 / 10)) "$f" > "$small"
rss() { /usr/bin/time -f %M "$@" 2>&1 >/dev/null | tail -1; }
small_kib="" full_kib=""
for i in $(seq "$runs"); do
  small_kib+="$(rss "$quib" "$small" /dev/null) "
  full_kib+="$(rss "$quib" "$f" /dev/null) "
done
echo "peak memory (KiB, medians): $((mb / 10)) MiB $(median <<<"$small_kib"), $mb MiB $(median <<<"$full_kib")"
