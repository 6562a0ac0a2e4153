#!/bin/sh
# PROGRAM --version prints "NAME VERSION" alone and exits 0.
# Usage: check_version.sh NAME VERSION [EMULATOR...] PROGRAM
set -eu
name=$1 version=$2
shift 2
said=$("$@" --version) || { echo "$name --version exited $?" >&2; exit 1; }
[ "$said" = "$name $version" ] || { echo "$name --version said '$said', not '$name $version'" >&2; exit 1; }
echo "ok: $said"
