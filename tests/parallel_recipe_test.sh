#!/usr/bin/env bash
# Runs the README's GNU parallel recipe, taken from the README itself so it
# cannot go stale: once on this machine (-S :), and once through a stand-in
# for ssh whose "remote machine" is a folder of this one, so the transfer,
# the return and the clean-up really happen. The pages must come back
# converted and the remote folder empty.
#
#   parallel_recipe_test.sh <quib> <source-dir> <work-dir>
# Without GNU parallel and rsync the test is skipped (status 77), unless
# QUIB_REQUIRE_PARALLEL=1, as in CI.
set -euo pipefail
quib=$1 src=$2 work=$3
if ! command -v parallel >/dev/null || ! command -v rsync >/dev/null; then
  if [ "${QUIB_REQUIRE_PARALLEL:-0}" = 1 ]; then
    echo "GNU parallel and rsync are required (QUIB_REQUIRE_PARALLEL=1)" >&2
    exit 1
  fi
  echo "GNU parallel or rsync is not installed; skipping"
  exit 77
fi

# The recipe: the lines from 'find archiv' to the end of its command.
recipe=$(awk '/^#+ Many machines/ {on=1} on && /^find archiv/ {cmd=1} cmd {print} cmd && !/\\$/ {exit}' \
  "$src/README.md" | sed -e 's/\\$//' | tr '\n' ' ')
case $recipe in
*"parallel -S host1,host2"*) ;;
*) echo "the README's recipe was not found: '$recipe'" >&2; exit 1 ;;
esac

rm -rf "$work" && mkdir -p "$work/bin" "$work/remote"
ln -s "$(realpath "$quib")" "$work/bin/quib"
export PATH="$work/bin:$PATH"
cat > "$work/fake-ssh" <<'SSH'
#!/bin/sh
shift                      # the host
[ "$1" = "--" ] && shift
# sshd gives every session the login shell in SHELL; parallel's remote
# worker runs the command with it and silently does nothing without it.
SHELL=$(getent passwd "$(id -un)" | cut -d: -f7)
export SHELL="${SHELL:-/bin/sh}"
cd "${QUIB_FAKE_REMOTE:?}" && exec sh -c "$*"
SSH
chmod +x "$work/fake-ssh"
export QUIB_FAKE_REMOTE="$work/remote"

for hosts in ":" "elsewhere --ssh $work/fake-ssh"; do
  rm -rf "$work/archiv" && mkdir -p "$work/archiv/2026"
  printf '<p>Er sagte "Hallo".</p>\n' > "$work/archiv/index.html"
  printf '<p>"x" <code>"y"</code></p>\n' > "$work/archiv/2026/seite.html"
  (cd "$work" && eval "${recipe/host1,host2/$hosts}") 2> "$work/stderr" || {
    cat "$work/stderr" >&2; echo "the recipe failed with -S $hosts" >&2; exit 1; }
  got=$(cat "$work/archiv/index.html" "$work/archiv/2026/seite.html")
  want=$(printf '<p>Er sagte &bdquo;Hallo&ldquo;.</p>\n<p>&bdquo;x&ldquo; <code>"y"</code></p>\n')
  [ "$got" = "$want" ] || {
    cat "$work/stderr" >&2; echo "with -S $hosts the pages are: $got" >&2; exit 1; }
  [ -z "$(ls -A "$work/remote")" ] || { echo "the remote copies were left: $(ls -A "$work/remote")" >&2; exit 1; }
  echo "recipe with -S ${hosts%% *}: pages converted, nothing left behind"
done
