#!/usr/bin/env bash
# `make installer`: build/windows/quillmark-setup-X.Y.Z.exe from the Windows build with NSIS
# (app/resources/installer.nsi); prints its size.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install_packages.sh windows
version=$(sed -n 's/^project(quillmark VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
setup=build/windows/quillmark-setup-$version.exe
makensis -V2 -DVERSION="$version" -DBUILD_DIR="$PWD/build/windows" -DOUTFILE="$PWD/$setup" \
    app/resources/installer.nsi
echo "$setup: $(stat -c %s "$setup") bytes"
