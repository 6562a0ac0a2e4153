#!/usr/bin/env bash
# Checks the Debian packages a build made: the program's package holds the
# program, its unit with the script it runs (executable), its example
# settings and its manual alone and never a client library, the stand-in's
# package holds the two client libraries (out of the system's library
# folders), its own, and the camera daemon with its units, example settings
# and manual, the trace layer's holds the layer (out of them too) and
# kovra-stats (and depends on the chart library its pages inline), and all are built for the expected architecture. The trace
# layer needs nothing of the stand-in: its library links no library of the
# stand-in's. Every library a program of a package needs is its own or in its
# Depends (the camera's client library aside: ipc-soak must not depend on
# one). Then lintian must find neither error nor warning that the package
# does not override, with its reason, in its own lintian overrides.
#
# Usage: scripts/check-packages.sh BUILD_DIR ARCHITECTURE
set -euo pipefail
dir=$1 arch=$2
fail() { echo "FAIL: $*" >&2; exit 1; }

program=$(ls "$dir"/ipc-soak_*_"$arch".deb) || fail "no ipc-soak package for $arch in $dir"
sim=$(ls "$dir"/kovra-sim_*_"$arch".deb) || fail "no kovra-sim package for $arch in $dir"
trace=$(ls "$dir"/kovra-trace_*_"$arch".deb) || fail "no kovra-trace package for $arch in $dir"

files() { dpkg-deb -c "$1" | awk '$1 !~ /^d/ {print $6}'; }
[[ "$(files "$program" | sort | tr '\n' ' ')" == "./usr/bin/ipc_soak ./usr/lib/ipc-soak/soak-runs \
./usr/lib/systemd/system/ipc-soak@.service ./usr/share/doc/ipc-soak/changelog.Debian.gz \
./usr/share/doc/ipc-soak/copyright ./usr/share/doc/ipc-soak/examples/ipc-soak.conf.example \
./usr/share/lintian/overrides/ipc-soak ./usr/share/man/man1/ipc_soak.1.gz " ]] ||
    fail "ipc-soak holds more than the program, its unit and its script, its example, its manual and Debian's files: $(files "$program")"
# The unit runs the script: it must be executable.
mode=$(dpkg-deb -c "$program" | awk '$6 == "./usr/lib/ipc-soak/soak-runs" {print $1}')
[[ $mode == -rwxr-xr-x ]] || fail "ipc-soak's soak-runs is $mode, not executable"
for file in lib/kovra-sim/libkovra-core.so lib/kovra-sim/libkovra-interfaces.so lib/kovra-sim/libkovra-sim.so \
    bin/kovra-camd lib/systemd/system/kovra-camd.service lib/systemd/system/kovra-camd@.service \
    share/doc/kovra-sim/examples/kovra-camd.conf.example share/man/man1/kovra-camd.1.gz \
    share/man/man1/kovra-sim-info.1.gz share/man/man7/kovra-sim.7.gz share/kovra-sim/camera.sh \
    share/doc/kovra-sim/copyright share/doc/kovra-sim/changelog.Debian.gz; do
    files "$sim" | grep -qx "./usr/$file" || fail "kovra-sim lacks /usr/$file"
done
for file in lib/kovra-trace/libkovra-trace.so bin/kovra-stats share/man/man7/kovra-trace.7.gz \
    share/man/man1/kovra-stats.1.gz share/doc/kovra-trace/copyright \
    share/doc/kovra-trace/changelog.Debian.gz; do
    files "$trace" | grep -qx "./usr/$file" || fail "kovra-trace lacks /usr/$file"
done
dpkg-deb -f "$trace" Depends | grep -q libjs-dygraphs ||
    fail "kovra-trace does not depend on libjs-dygraphs, which kovra-stats --html inlines"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
dpkg-deb -x "$trace" "$work"
if readelf -d "$work/usr/lib/kovra-trace/libkovra-trace.so" | grep NEEDED | grep -q kovra; then
    fail "libkovra-trace needs a library of the stand-in's"
fi
for deb in "$program" "$sim" "$trace"; do
    [[ "$(dpkg-deb -f "$deb" Architecture)" == "$arch" ]] || fail "$deb is not $arch"
    if dpkg-deb -f "$deb" Depends | grep -q kovra; then fail "$deb depends on a client library"; fi
done
# The Debian package that holds each library a package's programs need, by
# the host's dpkg: the names are the same on every architecture.
for deb in "$program" "$sim" "$trace"; do
    rm -rf "$work/x" && mkdir "$work/x" && dpkg-deb -x "$deb" "$work/x"
    depends=$(dpkg-deb -f "$deb" Depends | tr ',' '\n' | awk '{print $1}')
    own=$(find "$work/x" -type f -name '*.so*' -printf '%f\n')
    needed=$(find "$work/x" -type f -exec sh -c 'head -c4 "$1" | grep -q ELF' _ {} \; -print |
        xargs -r readelf -d | awk '/NEEDED/ {gsub(/[][]/, "", $5); print $5}' | sort -u)
    for soname in $needed; do
        grep -qx "$soname" <<<"$own" && continue
        [[ $soname == libkovra-core.so || $soname == libkovra-interfaces.so ]] && continue
        [[ $soname == ld-linux* ]] && continue  # libc6's, needed through libc.so.6
        holder=$(dpkg -S "*/$soname" 2>/dev/null | awk -F: '{print $1}' | sort -u)
        [[ -n $holder ]] || fail "no installed package holds $soname, which $deb needs"
        grep -qxF "$holder" <<<"$depends" || fail "$deb needs $soname of $holder but does not depend on it"
    done
done

command -v lintian >/dev/null || fail "no lintian (scripts/install-deps.sh installs it)"
for deb in "$program" "$sim" "$trace"; do
    lintian --fail-on error,warning "$deb" || fail "lintian: $(basename "$deb")"
done
echo "ok: $(basename "$program") $(basename "$sim") $(basename "$trace")"
