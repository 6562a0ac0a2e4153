#!/bin/bash
# Builds the armhf sysroot that cmake/toolchains/armhf.cmake links against:
# Debian's armhf Boost and GoogleTest packages, unpacked with dpkg -x.
#
# The packages are fetched with apt-get download from a private apt state
# whose architecture is armhf, so the host's dpkg architectures stay as they
# are: a multiarch install of pkg:armhf breaks whenever the mirror's armhf and
# amd64 versions of a package disagree, which a plain download never minds.
#
# Usage: scripts/armhf-sysroot.sh [SYSROOT]   (default: sysroot/armhf)
# Needs apt-get, dpkg and a reachable Debian mirror in the host's apt sources.
set -euo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
sysroot=${1:-$repo/sysroot/armhf}
mkdir -p "$sysroot"
sysroot=$(cd "$sysroot" && pwd)

# Thread's -dev package pulls in the -dev packages of atomic, chrono and
# date-time; their CMake configs are looked up by boost_thread's config, so
# they are needed to configure even though they are not linked. The
# stand-in's kovra-sim-info tool links program_options. msgpack-cxx is
# header-only: its -dev package is all the wire format needs. kovra-camd
# tells systemd it is ready through libsystemd, whose own libraries the
# linker must find too. Timelines and journals are deflated with zlib.
packages=(
    libboost1.74-dev
    libboost-system1.74-dev libboost-system1.74.0
    libboost-thread1.74-dev libboost-thread1.74.0
    libboost-program-options1.74-dev libboost-program-options1.74.0
    libboost-atomic1.74-dev libboost-atomic1.74.0
    libboost-chrono1.74-dev libboost-chrono1.74.0
    libboost-date-time1.74-dev libboost-date-time1.74.0
    libmsgpack-cxx-dev nlohmann-json3-dev
    zlib1g-dev zlib1g
    libgtest-dev libgmock-dev
    libsystemd-dev libsystemd0 libcap2 libgcrypt20 libgpg-error0 liblz4-1 liblzma5 libzstd1
)

# The list of what was unpacked doubles as the "already done" marker: a rerun
# with the same package list costs nothing.
stamp=$sysroot/.packages
if [[ -f $stamp && "$(cat "$stamp")" == "${packages[*]}" ]]; then
    echo "armhf sysroot up to date: $sysroot"
    exit 0
fi

apt_dir=$sysroot/.apt
mkdir -p "$apt_dir/lists/partial" "$apt_dir/cache/archives/partial" "$apt_dir/debs"
: >"$apt_dir/status"
apt_opts=(
    -o APT::Architecture=armhf
    -o APT::Architectures=armhf
    -o Dir::State="$apt_dir"
    -o Dir::State::Lists="$apt_dir/lists"
    -o Dir::State::status="$apt_dir/status"
    -o Dir::Cache="$apt_dir/cache"
    -o Debug::NoLocking=1
    -o Acquire::Languages=none
    -o APT::Sandbox::User=root
)

# Indexes younger than a day are reused, so a half-finished earlier run does
# not pay for them again. A mirror caught mid-sync can fail one suite's index
# (security, say) while the others load; the download below then says
# plainly whether any package we need is missing.
if [[ -z $(find "$apt_dir/lists" -maxdepth 1 -name '*_Packages*' -mmin -1440 -print -quit) ]]; then
    apt-get "${apt_opts[@]}" -q update ||
        echo "warning: some armhf indexes failed to load; going on with the rest" >&2
fi

(cd "$apt_dir/debs" && rm -f ./*.deb && apt-get "${apt_opts[@]}" -q download "${packages[@]}")

for deb in "$apt_dir/debs"/*.deb; do
    dpkg -x "$deb" "$sysroot"
done
rm -f "$apt_dir/debs"/*.deb

# An absolute link would point into the host's own tree (its amd64 files or
# nothing); make each one relative to the sysroot instead.
while IFS= read -r -d '' link; do
    target=$(readlink "$link")
    [[ $target == /* ]] || continue
    ln -sfn "$(realpath -m --relative-to="$(dirname "$link")" "$sysroot$target")" "$link"
done < <(find "$sysroot" -path "$apt_dir" -prune -o -type l -print0)

echo "${packages[*]}" >"$stamp"
echo "armhf sysroot ready: $sysroot"
