#!/usr/bin/env bash
# Bundles the page's JavaScript pieces into self-contained ES modules:
#   web/build-js.sh OUTDIR   ->  OUTDIR/tags.js, OUTDIR/recorder.js
# The npm packages come pinned from package-lock.json; `npm ci` runs only when
# node_modules is missing or was installed from another lock file.
set -euo pipefail

if [ $# -ne 1 ]; then
  echo "usage: web/build-js.sh OUTDIR (writes OUTDIR/tags.js and OUTDIR/recorder.js)" >&2
  exit 2
fi
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
mkdir -p "$1"
out="$(cd "$1" && pwd)"

if ! command -v npm >/dev/null; then
  echo "web/build-js.sh: npm is missing: run scripts/setup (Debian's npm)" >&2
  exit 1
fi

# npm ci wipes and reinstalls; the stamp is a copy of the lock it installed.
stamp="$here/node_modules/.lumenvortex-lock"
if ! cmp -s "$here/package-lock.json" "$stamp"; then
  (cd "$here" && npm ci --no-audit --no-fund --loglevel=error)
  cp "$here/package-lock.json" "$stamp"
fi

# es2022: every browser with WebGL 2 and WebCodecs reads it; the bundles
# are ES modules so that the page imports them as they are.
for name in tags recorder; do
  "$here/node_modules/.bin/esbuild" "$here/js/$name.js" --bundle --format=esm --target=es2022 \
    --platform=browser --minify --log-level=warning --outfile="$out/$name.js"
done
