#!/usr/bin/env bash
# Renders the example page before and after conversion side by side in
# headless Chromium and writes docs/before-after.png.
#
#   docs/make_screenshot.sh [path/to/quib]
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
quib=${1:-$top/build/quib}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cp "$top/examples/beispiel.html" "$work/vorher.html"
"$quib" "$work/vorher.html" "$work/nachher.html" -z
cat > "$work/beide.html" <<'HTML'
<!DOCTYPE html>
<html><head><meta charset="UTF-8"><style>
  body { margin: 0; font-family: "DejaVu Sans", sans-serif; background: #eee; }
  .pair { display: flex; gap: 12px; padding: 12px; }
  figure { margin: 0; flex: 1; background: white; border: 1px solid #999; }
  figcaption { padding: 6px 10px; background: #333; color: white; font-size: 15px; }
  iframe { width: 100%; height: 330px; border: 0; }
</style></head><body><div class="pair">
  <figure><figcaption>vorher: examples/beispiel.html</figcaption><iframe src="vorher.html"></iframe></figure>
  <figure><figcaption>nachher: quib beispiel.html nachher.html -z</figcaption><iframe src="nachher.html"></iframe></figure>
</div></body></html>
HTML
chromium --headless --no-sandbox --disable-gpu --disable-quic --no-first-run \
  --disable-background-networking --disable-component-update --disable-sync \
  --user-data-dir="$work/profile" --hide-scrollbars --window-size=1400,380 \
  --screenshot="$top/docs/before-after.png" "file://$work/beide.html" 2> "$work/chromium.log"
echo "wrote docs/before-after.png"
