# Top-level entry points. Both install what is missing first.
.PHONY: all bootstrap build run test test-fast footprint clean

BUILD_DIR ?= build
JOBS ?= $(shell nproc)

all: build

bootstrap:
	@scripts/bootstrap.sh

build: bootstrap
	@scripts/build.sh $(BUILD_DIR)

# Builds the daemon and runs it against a throw-away root directory; Ctrl-C stops it.
run: build
	@scripts/run.sh $(BUILD_DIR)

# Builds and runs every test: normal build (warnings as errors), the whole
# suite under AddressSanitizer + UndefinedBehaviorSanitizer, and the
# concurrency tests under ThreadSanitizer.
test: bootstrap
	@scripts/test.sh

# Normal build and its tests only (for quick local iterations).
test-fast: build
	@cd $(BUILD_DIR) && ctest --output-on-failure -j $(JOBS)

# Idle footprint of the daemon (WINDOW seconds, default 60).
footprint: build
	@bench/footprint/footprint.sh -b $(BUILD_DIR) -w $(or $(WINDOW),60)

clean:
	rm -rf build build-asan build-tsan
