#!/usr/bin/env bash
# Converts the real-world pages of tests/data/pages with `quib --html`, loads
# each page before and after in headless Chromium and lets
# browser_html_check.py compare the two: console messages, the scripts'
# effects, the texts of script/style/textarea/pre/code/kbd/samp/tt, attributes,
# comments, and the prose, whose quotes must have become „ and “.
#
#   browser_html_test.sh <quib> <source-dir> <work-dir>
#
# QUIB_HTML_CONTROL=copy or =default runs a control instead, to show that the
# check catches faults: `copy` passes each original off as its conversion (the
# prose check must fail, nothing else), `default` converts without --html
# (--utf8 for UTF-8 pages), which must break the scripts and the code samples.
# A control passes when the check failed as expected on every page.
# Without Chromium the test is skipped (status 77), unless
# QUIB_REQUIRE_BROWSER=1, as in CI, where that is a failure.
set -uo pipefail
quib=$1 src=$2 work=$3
control=${QUIB_HTML_CONTROL:-}
case $control in ""|copy|default) ;; *) echo "QUIB_HTML_CONTROL must be copy or default" >&2; exit 2;; esac

browser=$(command -v chromium || command -v chromium-browser || true)
if [ -z "$browser" ]; then
  if [ "${QUIB_REQUIRE_BROWSER:-0}" = 1 ]; then
    echo "Chromium is required (QUIB_REQUIRE_BROWSER=1) but not installed" >&2
    exit 1
  fi
  echo "Chromium is not installed (apt-get install chromium); skipping the browser test"
  exit 77
fi

check=$src/tests/browser_html_check.py
rm -rf "$work" && mkdir -p "$work" || exit 1
load() { # page.html -> page.dom (--dump-dom) and page.log (console on stderr)
  local profile
  profile=$(mktemp -d "$work/profile.XXXXXX")
  timeout 120 "$browser" --headless --no-sandbox --disable-gpu --disable-quic \
    --no-first-run --disable-background-networking --disable-component-update \
    --disable-sync --user-data-dir="$profile" --enable-logging=stderr --v=0 \
    --dump-dom "file://$1" > "${1%.html}.dom" 2> "${1%.html}.log"
  rm -rf "$profile"
  [ -s "${1%.html}.dom" ] || { echo "Chromium dumped nothing for $1" >&2; cat "${1%.html}.log" >&2; return 1; }
}

# The console must really be captured, or a broken script would go unnoticed.
printf '<!DOCTYPE html><meta charset="utf-8"><title>kaputt</title><p id="e">x</p>
<script>var gruss = \xe2\x80\x9eHallo\xe2\x80\x9c; document.getElementById("e").textContent = gruss;</script>\n' \
  > "$work/kaputt.html"
load "$work/kaputt.html" || exit 1
if ! python3 "$check" --console "$work/kaputt.log" | grep -q "Uncaught SyntaxError"; then
  echo "no 'Uncaught SyntaxError' captured from a broken page: the console is not read" >&2
  cat "$work/kaputt.log" >&2
  exit 1
fi

passed=0 failed=0
for page in "$src"/tests/data/pages/*.html; do
  name=$(basename "$page" .html)
  dir=$work/$name && mkdir -p "$dir"
  cp "$page" "$dir/before.html"
  case $control in
    "") "$quib" "$dir/before.html" "$dir/after.html" --html ;;
    copy) cp "$dir/before.html" "$dir/after.html" ;;
    default)
      form=()
      head -c 1024 "$page" | grep -qiE "charset=[\"']?utf-?8" && form=(--utf8)
      "$quib" "$dir/before.html" "$dir/after.html" "${form[@]}" ;;
  esac
  status=$?
  if [ $status -ne 0 ] || [ ! -f "$dir/after.html" ]; then
    echo "$name: quib failed (status $status)"
    failed=$((failed + 1)); continue
  fi
  if load "$dir/before.html" && load "$dir/after.html" &&
     python3 "$check" ${control:+--control "$control"} "$name" \
       "$dir/before.dom" "$dir/after.dom" "$dir/before.log" "$dir/after.log"; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
  fi
done
echo "${control:-html}: $passed passed, $failed failed"
[ "$failed" -eq 0 ] && [ "$passed" -gt 0 ]
