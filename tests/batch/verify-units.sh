#!/usr/bin/env bash
# systemd-analyze verify on the service and timer of docs/systemd, which
# docs/scheduling.md shows whole. ExecStart names the installed program; the
# copy checked here names the built one, since verify wants it to exist.
#   verify-units.sh SOURCE_DIR BUILT_PROGRAM
set -uo pipefail
source_dir=$1 program=$2
command -v systemd-analyze >/dev/null || { echo "skipped: systemd-analyze is not installed"; exit 77; }
work=$(mktemp -d) && trap 'rm -rf "$work"' EXIT
doc=$(cat "$source_dir/docs/scheduling.md")
for unit in tavolene-batch.service tavolene-batch.timer; do
  text=$(cat "$source_dir/docs/systemd/$unit")
  [[ "$doc" == *"$text"* ]] || { echo "docs/scheduling.md does not show docs/systemd/$unit as it is"; exit 1; }
  sed "s|/usr/bin/tavolene-batch|$program|" "$source_dir/docs/systemd/$unit" >"$work/$unit"
done
# Documentation=man:tavolene-batch(1) is looked up too.
mkdir -p "$work/man/man1" && cp "$source_dir/resources/man/tavolene-batch.1" "$work/man/man1/"
man_check=--man=yes
command -v man >/dev/null || man_check=--man=no
MANPATH="$work/man" systemd-analyze verify "$man_check" "$work/tavolene-batch.service" "$work/tavolene-batch.timer"
