#!/usr/bin/env bash
# Times quib --in-place over a tree of pages against cp copying the same tree,
# and one quib process per page against one cat process per page (the same
# shell loop starts each), in alternating runs; prints the medians and the
# ratios.
#
#   bench/in_place.sh [build-dir] [pages] [runs]
#
# QUIB_BENCH_OPTIONS: options for every quib run (--html, say).
# QUIB_BENCH_PAGES=DIR: the pages of DIR (its *.html files) instead of
# generated ones.
# QUIB_BENCH_SYNC=1 ends each timed command with sync, so a copy's writing
# to disk counts too: cp leaves its blocks unallocated for the kernel to
# write later, while --in-place starts writing each new file before it
# takes the original's name.
set -euo pipefail
build=${1:-build-release}
pages=${2:-5000}
runs=${3:-5}
quib=$(realpath "$build/quib")
read -r -a options <<<"${QUIB_BENCH_OPTIONS:-}"
work=${QUIB_BENCH_DIR:-/tmp/quib-bench}/site-$pages
[ -x "$quib" ] && [ -x "$build/bench/quib_make_site" ] || {
  echo "build first: cmake -S . -B $build -DCMAKE_BUILD_TYPE=Release -DQUIB_BENCHMARKS=ON && cmake --build $build" >&2
  exit 2
}
if [ -n "${QUIB_BENCH_PAGES:-}" ]; then
  work=${QUIB_BENCH_DIR:-/tmp/quib-bench}/pages-$(realpath "$QUIB_BENCH_PAGES" | cksum | cut -d' ' -f1)
  rm -rf "$work/original"
  mkdir -p "$work/original"
  (cd "$QUIB_BENCH_PAGES" && find . -name '*.html' -type f -exec cp --parents -t "$work/original" {} +)
fi
mkdir -p "$work"
[ -d "$work/original" ] || "$build/bench/quib_make_site" "$work/original" "$pages"
echo "$(find "$work/original" -type f | wc -l) pages, $(du -sm "$work/original" | cut -f1) MiB${options[*]:+, quib ${options[*]}}"

seconds() {
  local t0 t1
  t0=$(date +%s.%N)
  "$@"
  [ "${QUIB_BENCH_SYNC:-0}" = 1 ] && sync
  t1=$(date +%s.%N)
  echo "$t1 - $t0" | bc -l
}
median() { sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
fresh() { rm -rf "$work/tree" "$work/copy"; cp -r "$work/original" "$work/tree"; cat $(find "$work/tree" -type f) > /dev/null; sync; }

copy_tree() { cp -r "$work/tree" "$work/copy"; }
in_place() { find "$work/tree" -name '*.html' -print0 | xargs -0 "$quib" --in-place "${options[@]}"; }
# One process per page, started by one shell for both.
per_file() {
  find "$work/tree" -name '*.html' -exec sh -c \
    'q=$1 o=$2; shift 2; for f; do "$q" "$f" "$f.out" $o; done' sh "$quib" "${options[*]}" {} +
}
cat_per_file() { find "$work/tree" -name '*.html' -exec sh -c 'for f; do cat "$f" > "$f.out"; done' sh {} +; }

cp_times="" quib_times="" each_times="" cat_times=""
# The two runs of each pair take turns going first: on one machine the
# second of the two took up to 1.38 times the first, whatever it ran.
pair() { # first second: times both, in the order given
  fresh; local a; a=$(seconds "$1")
  fresh; local b; b=$(seconds "$2")
  echo "$a $b"
}
for i in $(seq "$runs"); do
  if (( i % 2 )); then
    read -r c q < <(pair copy_tree in_place)
    read -r k e < <(pair cat_per_file per_file)
  else
    read -r q c < <(pair in_place copy_tree)
    read -r e k < <(pair per_file cat_per_file)
  fi
  cp_times+="$c " quib_times+="$q " cat_times+="$k " each_times+="$e "
  [ "${QUIB_BENCH_VERBOSE:-0}" = 1 ] &&
    echo "run $i: cp -r $c s, --in-place $q s, cat per page $k s, quib per page $e s" >&2
done
med() { tr ' ' '\n' <<<"$1" | grep . | median; }
c=$(med "$cp_times") q=$(med "$quib_times") e=$(med "$each_times") k=$(med "$cat_times")
printf '%-34s %8s %8s\n' "" seconds ratio
printf '%-34s %8.3f\n' "cp -r (one process)" "$c"
printf '%-34s %8.3f %8.2f  x cp -r\n' "quib --in-place (one process)" "$q" "$(echo "$q / $c" | bc -l)"
printf '%-34s %8.3f\n' "cat per page" "$k"
printf '%-34s %8.3f %8.2f  x cat per page\n' "quib per page" "$e" "$(echo "$e / $k" | bc -l)"
rm -rf "$work/tree" "$work/copy"
