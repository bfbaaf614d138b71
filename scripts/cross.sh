#!/usr/bin/env bash
# Builds and tests the daemon for the station's ARM board on this machine.
# usage: scripts/cross.sh ARCH deps|build|test|smoke [TARGET...]
#   ARCH   arm64 (64-bit boards) or armhf (32-bit boards)
#   deps   installs the multiarch packages the cross-build needs (as root)
#   build [TARGET...]  deps, then builds the targets (default: everything but
#          the benchmarks) in build-ARCH/
#   test   runs build-ARCH's tests under qemu-user, except those labelled kernel
#   smoke  runs the cross-built daemon under qemu, drives it with the host tarvctl
set -euo pipefail
cd "$(dirname "$0")/.."

die() { echo "cross: $*" >&2; exit 1; }

arch=${1:-}
action=${2:-build}
targets=("${@:3}")
case "$arch" in
  arm64) qemu=qemu-aarch64-static ;;
  armhf) qemu=qemu-arm-static ;;
  "")    die "no ARCH given; use ARCH=arm64 or ARCH=armhf" ;;
  *)     die "unknown ARCH '$arch'; use arm64 or armhf" ;;
esac
build_dir=${CROSS_BUILD_DIR:-build-$arch}
host_build_dir=${HOST_BUILD_DIR:-build}

# Libraries the project links, for the target architecture.
TARGET_LIBS=(
  libspdlog-dev libfmt-dev libjsoncpp-dev libprotobuf-dev libgrpc++-dev
  libnl-3-dev libnl-route-3-dev libnl-genl-3-dev libgtest-dev libgmock-dev
)

deps() {
  scripts/bootstrap.sh
  local wanted=("crossbuild-essential-$arch" qemu-user-static) missing=() pkg status
  for pkg in "${TARGET_LIBS[@]}"; do wanted+=("$pkg:$arch"); done
  for pkg in "${wanted[@]}"; do
    status=$(dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null || true)
    [[ "$status" == "install ok installed" ]] || missing+=("$pkg")
  done
  [[ ${#missing[@]} -eq 0 ]] && return 0
  [[ $(id -u) -eq 0 ]] || die "missing packages for $arch: ${missing[*]}; run as root to install them"
  echo "cross: installing ${missing[*]}"
  local log
  log=$(mktemp /tmp/cross-apt-XXXXXX.log)
  export DEBIAN_FRONTEND=noninteractive
  if ! {
    { dpkg --print-foreign-architectures | grep -qx "$arch" || dpkg --add-architecture "$arch"; } &&
      apt-get update -qq &&
      apt-get install -y -qq --no-install-recommends "${missing[@]}"
  } >"$log" 2>&1; then
    die "could not install the $arch packages ${missing[*]} (apt output in $log)"
  fi
  rm -f "$log"
}

# The target's wolfSSL development package cannot be installed beside the
# host's (their headers differ per architecture): it is unpacked into the
# build directory instead, and the daemon links its static library.
wolfssl_root() {
  local root="$build_dir/wolfssl-root" deb
  if [[ ! -f "$root/.unpacked" ]]; then
    mkdir -p "$root/deb"
    (cd "$root/deb" && apt-get download -qq "libwolfssl-dev:$arch") >/dev/null ||
      die "could not download libwolfssl-dev:$arch"
    for deb in "$root"/deb/*.deb; do dpkg -x "$deb" "$root"; done
    touch "$root/.unpacked"
  fi
  echo "$(cd "$root" && pwd)"
}

configure_and_build() {
  deps
  if [[ ! -f "$build_dir/build.ninja" ]]; then
    local wolfssl
    mkdir -p "$build_dir"
    wolfssl=$(wolfssl_root)
    cmake -S . -B "$build_dir" -G Ninja -DCMAKE_TOOLCHAIN_FILE="cmake/toolchain-$arch.cmake" \
      -DCMAKE_BUILD_TYPE=MinSizeRel -DTARV_WERROR=ON -DTARV_BUILD_BENCH=OFF -DTARV_WOLFSSL_ROOT="$wolfssl" "$@" >/dev/null
  fi
  cmake --build "$build_dir" ${targets:+--target "${targets[@]}"}
}

need_emulator() {
  command -v "$qemu" >/dev/null || die "$qemu not found: install qemu-user-static (make cross ARCH=$arch does)"
  [[ -f "$build_dir/build.ninja" ]] || die "no cross-build in $build_dir: run make cross ARCH=$arch first"
}

case "$action" in
  deps)  deps ;;
  build) configure_and_build ;;
  test)
    need_emulator
    # Tests that start the built programs as child processes need the
    # kernel to run target binaries itself (binfmt_misc), which a plain
    # qemu-user run does not give them.
    exclude=()
    if [[ ! -e /proc/sys/fs/binfmt_misc/${qemu%-static} ]]; then
      echo "cross: no binfmt_misc entry for ${qemu%-static}: skipping the tests that start the built programs"
      exclude=(-E '^(Daemon\.|ProcessEntry\.Binary)')
    fi
    (cd "$build_dir" && ctest --output-on-failure -j "$(nproc)" -LE kernel "${exclude[@]}")
    ;;
  smoke)
    need_emulator
    [[ -x "$host_build_dir/tools/tarvctl/tarvctl" ]] || scripts/build.sh "$host_build_dir" -- tarvctl
    # The daemon initialises the station's network (host name, addresses):
    # it runs under the emulator inside the same sandbox as the native test.
    tests/packaging/smoke.sh "tests/daemon/station_sandbox.sh $qemu" "$build_dir/src/tarv" \
      "$host_build_dir/tools/tarvctl/tarvctl"
    ;;
  *) die "unknown action '$action'; use deps, build, test or smoke" ;;
esac
