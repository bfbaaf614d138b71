#!/usr/bin/env bash
# Builds the fuzz targets with clang and libFuzzer and runs each for a
# bounded time; exits non-zero when one finds a crash.
#   atanswerfuzz          the modem's AT answers (SECONDS, default 60 s)
#   configtextfuzz        configuration source files
#   ipcconfigurationfuzz  the IPC configuration file etc/iipc.json
#   ipcrequestfuzz        IPC requests, notifications and samples as a peer sends them
#   scanrecordfuzz        a WLAN scan's BSS attributes and information elements
#   routetablefuzz        the kernel's IPv4 route table (/proc/net/route)
#   procidentityfuzz      /proc/PID/comm and cmdline, as read to tell whose process a pid is
# The last six run FUZZ_OTHER_SECONDS each (default 35 s).
# usage: scripts/fuzz.sh [SECONDS] [BUILD_DIR]
# Needs clang-14, libclang-rt-14-dev, protoc and the -dev packages of
# jsoncpp, protobuf, spdlog and fmt (scripts/bootstrap.sh installs them).
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-60}
dir=${2:-build-fuzz}
others=${FUZZ_OTHER_SECONDS:-35}
cxx=$(command -v clang++-14 || command -v clang++)
mkdir -p "$dir/corpus" "$dir/artifacts" "$dir/gen/proto"

flags=(-std=c++20 -O1 -g -fno-omit-frame-pointer -fsanitize=fuzzer,address,undefined
       -fno-sanitize-recover=undefined -I. -I"$dir/gen")
read -r -a json <<<"$(pkg-config --cflags --libs jsoncpp)"
build() {
  local name=$1
  shift
  "$cxx" "${flags[@]}" "$@" -o "$dir/$name"
}

protoc --cpp_out="$dir/gen/proto" -I proto proto/messages.proto proto/servicemessages.proto

build atanswerfuzz tests/fuzz/atanswerfuzz.cpp src/components/ltemodem/atanswer.cpp \
  src/components/ltemodem/atresponseparser.cpp
build configtextfuzz tests/fuzz/configtextfuzz.cpp platform/config/configtext.cpp "${json[@]}"
build ipcconfigurationfuzz tests/fuzz/ipcconfigurationfuzz.cpp platform/ipc/ipcconfiguration.cpp \
  platform/config/configtext.cpp platform/rootdir/rootdir.cpp platform/toolbox/uniquefd.cpp "${json[@]}"
build ipcrequestfuzz tests/fuzz/ipcrequestfuzz.cpp platform/ipc/ipcsample.cpp -w \
  "$dir/gen/proto/messages.pb.cc" "$dir/gen/proto/servicemessages.pb.cc" -lprotobuf-lite
build scanrecordfuzz tests/fuzz/scanrecordfuzz.cpp platform/wifiscan/scanrecordparser.cpp
build routetablefuzz tests/fuzz/routetablefuzz.cpp src/components/handlers/routetable.cpp
read -r -a logging <<<"$(pkg-config --cflags --libs spdlog fmt)"
build procidentityfuzz tests/fuzz/procidentityfuzz.cpp src/components/system/processowner.cpp \
  platform/log/log.cpp platform/log/logthrottle.cpp platform/rootdir/rootdir.cpp platform/worker/steadyclock.cpp \
  "${logging[@]}"

# Each target starts from its seeds (real-looking inputs); its corpus
# directory keeps what the fuzzer found between runs.
run() {
  local name=$1 time=$2 maxlen=$3 corpus=$4 seeds=$5
  mkdir -p "$corpus"
  "$dir/$name" -max_total_time="$time" -max_len="$maxlen" -timeout=10 -rss_limit_mb=1024 \
    -artifact_prefix="$dir/artifacts/$name-" -print_final_stats=1 "$corpus" "$seeds"
}
run atanswerfuzz "$seconds" 8192 "$dir/corpus" tests/fuzz/corpus/atanswer
run configtextfuzz "$others" 65536 "$dir/corpus-configtext" tests/fuzz/corpus/configtext
run ipcconfigurationfuzz "$others" 4096 "$dir/corpus-ipcconfiguration" tests/fuzz/corpus/ipcconfiguration
run ipcrequestfuzz "$others" 4096 "$dir/corpus-ipcrequest" tests/fuzz/corpus/ipcrequest
run scanrecordfuzz "$others" 4096 "$dir/corpus-scanrecord" tests/fuzz/corpus/scanrecord
run routetablefuzz "$others" 4096 "$dir/corpus-routetable" tests/fuzz/corpus/routetable
run procidentityfuzz "$others" 4096 "$dir/corpus-procidentity" tests/fuzz/corpus/procidentity
