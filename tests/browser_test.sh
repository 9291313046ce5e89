#!/usr/bin/env bash
# Converts the example pages and lets headless Chromium render them: the marks
# must arrive as U+201E and U+201C (ISO-8859-1 page with the default bytes,
# UTF-8 page with --utf8) and the markup's quotes must stay straight.
#
#   browser_test.sh <quib> <source-dir> <work-dir>
# Without Chromium the test is skipped (status 77), unless
# QUIB_REQUIRE_BROWSER=1, as in CI, where that is a failure.
set -euo pipefail
quib=$1 src=$2 work=$3

browser=$(command -v chromium || command -v chromium-browser || true)
if [ -z "$browser" ]; then
  if [ "${QUIB_REQUIRE_BROWSER:-0}" = 1 ]; then
    echo "Chromium is required (QUIB_REQUIRE_BROWSER=1) but not installed" >&2
    exit 1
  fi
  echo "Chromium is not installed (apt-get install chromium); skipping the browser test"
  exit 77
fi

rm -rf "$work" && mkdir -p "$work"
dump() { # page.html dom-file
  timeout 120 "$browser" --headless --no-sandbox --disable-gpu --disable-quic \
    --no-first-run --disable-background-networking --disable-component-update \
    --disable-sync --user-data-dir="$work/profile" --dump-dom "file://$1" \
    > "$2" 2> "$work/chromium.log"
  [ -s "$2" ] || { echo "Chromium dumped nothing for $1" >&2; cat "$work/chromium.log" >&2; exit 1; }
}

texts=("„Anführungszeichen“ richtig setzen" "Er sagte „Hallo Welt“ und ging"
       "„Mehr lesen“" "„Entitäten“ zählen mit, „auch diese“" 'Ein 12" Monitor'
       "„Eins“" "„Zwei“")

cp "$src/examples/beispiel.html" "$work/latin1-before.html"
"$quib" "$work/latin1-before.html" "$work/latin1-after.html" -z
dump "$work/latin1-before.html" "$work/latin1-before.dom"
dump "$work/latin1-after.html" "$work/latin1-after.dom"
python3 "$src/tests/browser_check.py" "$work/latin1-before.dom" "$work/latin1-after.dom" 7 "${texts[@]}"

cp "$src/examples/beispiel-utf8.html" "$work/utf8-before.html"
"$quib" "$work/utf8-before.html" "$work/utf8-after.html" --utf8
dump "$work/utf8-before.html" "$work/utf8-before.dom"
dump "$work/utf8-after.html" "$work/utf8-after.dom"
python3 "$src/tests/browser_check.py" "$work/utf8-before.dom" "$work/utf8-after.dom" 7 "${texts[@]}"
