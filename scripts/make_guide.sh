#!/usr/bin/env bash
# Regenerates the pictures of the user guide from the real program:
#  - the gallery: every command run by lumivex-cli on a sample photo, before
#    and after, with each result's title and time (docs/guide/gallery/);
#  - the screenshots of the workbench, taken from the real window under Xvfb
#    (docs/guide/*.png), when the screenshot tool is built;
# and rewrites the gallery table between the markers in README.md.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
# Only what the guide runs: the whole tree (tests, benchmarks) is not needed here.
cmake --build build -j "$(nproc)" --target lumivex-cli
if cmake --build build --target help | grep -q '^lumivex-screenshots:'; then
  cmake --build build -j "$(nproc)" --target lumivex-screenshots
fi

sample=samples/chelsea_451x300.bmp
out=docs/guide/gallery
mkdir -p "$out"
rm -f "$out"/*.png
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

cli=build/cli/lumivex-cli
commands=(stretch gamma ghe tghe ahe clhe tahe unsharp tcf jgace lowpass gray-tghe tcf-tghe gray-or-tcf-tghe)

table="| command | result | title and time |"$'\n'"|---|---|---|"$'\n'
line=$("$cli" gray "$sample" "$tmp/gray.bmp")
convert "$tmp/gray.bmp" "$out/00-gray.png"
table+="| the gray image (before) | ![gray](docs/guide/gallery/00-gray.png) | \`${line//$'\t'/ }\` |"$'\n'
i=1
for command in "${commands[@]}"; do
  name=$(printf '%02d-%s' "$i" "$command")
  line=$("$cli" "$command" "$sample" "$tmp/$name.bmp")
  convert "$tmp/$name.bmp" "$out/$name.png"
  table+="| \`$command\` | ![$command](docs/guide/gallery/$name.png) | \`${line//$'\t'/ }\` |"$'\n'
  i=$((i + 1))
done
printf '%s' "$table" > docs/guide/gallery.md

# Splice the table into the README between its markers.
python3 - "$table" <<'PY'
import re, sys
table = sys.argv[1]
text = open("README.md", encoding="utf-8").read()
start, end = "<!-- gallery:start -->", "<!-- gallery:end -->"
if start in text and end in text:
    head, rest = text.split(start, 1)
    _, tail = rest.split(end, 1)
    text = head + start + "\n" + table + end + tail
    open("README.md", "w", encoding="utf-8").write(text)
PY

# Screenshots of the real window, when the screenshot tool exists, under a
# small window manager so the windows carry their title bars as on a desktop.
if [ -x build/ui/lumivex-screenshots ]; then
  if ! command -v openbox >/dev/null 2>&1; then
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends openbox >/dev/null
  fi
  xvfb-run -a -s '-screen 0 1280x900x24' bash -c \
    'openbox >/dev/null 2>&1 & wm=$!; sleep 1; build/ui/lumivex-screenshots docs/guide; status=$?; kill $wm; exit $status'
fi
echo "Guide pictures written to docs/guide/"
