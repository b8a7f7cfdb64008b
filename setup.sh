#!/usr/bin/env bash
# Installs what Vorlo needs on Debian 12, builds it, then either runs it
# ("run [ARCHIVE...]") or runs every test ("test").
set -euo pipefail
cd "$(dirname "$0")"

packages=(cmake g++ ninja-build pkg-config qt6-base-dev qt6-base-dev-tools
          libarchive-dev libplist-dev libssl-dev libb2-dev xvfb xauth imagemagick
          adwaita-icon-theme fonts-dejavu-core zip 7zip libarchive-tools curl
          python3 dpkg-dev file zlib1g-dev xz-utils zstd lz4 appstream)

install_missing_packages() {
    local missing=()
    for p in "${packages[@]}"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    local sudo=()
    [ "$(id -u)" -ne 0 ] && sudo=(sudo)
    echo "Installing: ${missing[*]}"
    "${sudo[@]}" apt-get update -qq
    "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}"
}

build() {
    cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo ${VORLO_CMAKE_ARGS:-}
    cmake --build build -j "$(nproc)"
}

command=${1:-run}
shift || true
install_missing_packages
build

case "$command" in
run)
    if [ $# -eq 0 ]; then
        set -- "$PWD/build/share/vorlo/sample.rar"
    fi
    if [ -x build/bin/vorlo ]; then
        exec build/bin/vorlo "$@"
    fi
    for archive in "$@"; do
        build/libexec/vorlo/unrar vb -v "$archive"
    done
    ;;
test)
    status=0
    (cd build && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j "$(nproc)" ${VORLO_CTEST_ARGS:-}) || status=1
    # The whole suite again under AddressSanitizer and UndefinedBehaviorSanitizer
    # (VORLO_SANITIZE=OFF skips it). libarchive asks for huge buffers on some
    # damaged archives: a null answer must reach it rather than an abort.
    if [ "${VORLO_SANITIZE:-ON}" != OFF ]; then
        cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVORLO_SANITIZE=ON ${VORLO_CMAKE_ARGS:-}
        cmake --build build-asan -j "$(nproc)"
        (cd build-asan && QT_QPA_PLATFORM=offscreen \
            ASAN_OPTIONS=allocator_may_return_null=1:detect_leaks=1:abort_on_error=0 \
            UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
            ctest --output-on-failure -j "$(nproc)" ${VORLO_CTEST_ARGS:-}) || status=1
    fi
    exit $status
    ;;
*)
    echo "usage: $0 run [ARCHIVE...] | test" >&2
    exit 2
    ;;
esac
