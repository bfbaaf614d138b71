# Top-level entry points. Both install what is missing first.
.PHONY: all bootstrap build run test test-fast reliability fuzz footprint package cross test-cross smoke-cross clean

BUILD_DIR ?= build
JOBS ?= $(shell nproc)

all: build

bootstrap:
	@scripts/bootstrap.sh

build: bootstrap
	@scripts/build.sh $(BUILD_DIR)

# Runs the daemon in the simulated station (needs root; builds the daemon,
# tarvctl and the station's programs first): a live view of the whole
# station until Ctrl-C or q, which ends it all; the logs stay.
run:
	@scripts/run.sh $(BUILD_DIR)

# The station scenarios that last as long as the daemon's own waits (label
# "long"), which "make test" leaves out; CI runs them after it (needs root).
reliability: build
	@cd $(BUILD_DIR) && ctest --output-on-failure -L long

# Builds and runs every test (warnings as errors): the optimised build with
# the tests of the built programs (daemon, packaging, simulated station), the
# unit tests under AddressSanitizer + UndefinedBehaviorSanitizer, and the
# concurrency tests under ThreadSanitizer.
test: bootstrap
	@scripts/test.sh

# Optimised build with every test, run there only (quick local iterations).
test-fast: bootstrap
	@scripts/build.sh $(BUILD_DIR) -DTARV_UNIT_TESTS=ON
	@cd $(BUILD_DIR) && ctest --output-on-failure -j $(JOBS)

# Runs every fuzz target (scripts/fuzz.sh lists them): the modem answer parser
# for FUZZ_SECONDS (default 60), each other one for FUZZ_OTHER_SECONDS (default
# 35); fails on a crash.
fuzz: bootstrap
	@scripts/fuzz.sh $(or $(FUZZ_SECONDS),60)

# Idle footprint of the daemon (WINDOW seconds, default 60).
footprint: build
	@bench/footprint/footprint.sh -b $(BUILD_DIR) -w $(or $(WINDOW),60)

# The Debian package of the daemon, its tool and start-up files, in build-pkg/.
package: bootstrap
	@scripts/package.sh build-pkg

# Cross-build for the station's board: ARCH=arm64 or ARCH=armhf. Installs the
# multiarch packages it needs; TARGETS limits the build (default: everything
# but the benchmarks, tests included).
cross:
	@scripts/cross.sh "$(ARCH)" build $(TARGETS)

# Runs the cross-built tests under qemu-user (not those labelled kernel), then
# drives the cross-built daemon with the host tarvctl.
test-cross: cross
	@scripts/cross.sh "$(ARCH)" test
	@scripts/cross.sh "$(ARCH)" smoke

# Cross-builds the daemon only and runs the smoke test (what CI runs).
smoke-cross:
	@scripts/cross.sh "$(ARCH)" build tarv
	@scripts/cross.sh "$(ARCH)" smoke

clean:
	rm -rf build build-asan build-tsan build-fuzz build-pkg build-arm64 build-armhf
