#!/usr/bin/env bash
# Installs every Debian package the build, the tests and `make run` need.
# Runs `apt-get update` once, and only when something is missing; quiet when all is present.
set -euo pipefail

PACKAGES=(
  build-essential cmake ninja-build pkg-config ccache lld
  libspdlog-dev libfmt-dev libjsoncpp-dev
  libprotobuf-dev protobuf-compiler libgrpc++-dev protobuf-compiler-grpc
  libnl-3-dev libnl-route-3-dev libnl-genl-3-dev libwolfssl-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  clang-14 libclang-rt-14-dev
  iproute2 util-linux procps
  # the package check (tests/packaging/deb_check.sh)
  lintian
  # wpa_passphrase: the pre-shared key test compares its derivation with it
  wpasupplicant
  # the simulated station's system programs
  dnsmasq-base busybox ifupdown libcap2-bin
)

# Only the machine's own architecture counts: a cross-build adds the same
# libraries for other architectures beside it.
native=$(dpkg --print-architecture)
missing=()
for pkg in "${PACKAGES[@]}"; do
  status=$(dpkg-query -W -f='${Architecture} ${Status}\n' "$pkg" 2>/dev/null || true)
  grep -qE "^($native|all) install ok installed$" <<<"$status" || missing+=("$pkg")
done

[[ ${#missing[@]} -eq 0 ]] && exit 0

if [[ $(id -u) -ne 0 ]]; then
  echo "bootstrap: missing packages: ${missing[*]}" >&2
  echo "bootstrap: run as root (or install them) and try again" >&2
  exit 1
fi

echo "bootstrap: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
log=$(mktemp)
trap 'rm -f "$log"' EXIT
if ! { apt-get update -qq && apt-get install -y -qq --no-install-recommends "${missing[@]}"; } >"$log" 2>&1; then
  cat "$log" >&2
  echo "bootstrap: package installation failed" >&2
  exit 1
fi
echo "bootstrap: done"
