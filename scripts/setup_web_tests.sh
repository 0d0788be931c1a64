#!/usr/bin/env bash
# Prepares the web tests on a Debian 12 machine: Debian's chromium, ffmpeg and zint (and Node.js
# with npm where `node` is missing), then the npm packages exactly as the lockfile pins them.
# Quick when everything is already there.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install_packages.sh web

cd tests/web
# npm ci rebuilds node_modules from scratch; skip it while the tree matches the lockfile.
stamp=node_modules/.quillmark-lockfile.sha256
wanted=$(sha256sum package-lock.json package.json | sha256sum | cut -d' ' -f1)
if [ -f "$stamp" ] && [ "$(cat "$stamp")" = "$wanted" ]; then
    exit 0
fi
npm ci --no-audit --no-fund --loglevel=error
echo "$wanted" > "$stamp"
