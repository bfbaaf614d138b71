# Cross-build for arm64 boards.
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(TARV_CROSS_TRIPLET aarch64-linux-gnu)
set(TARV_CROSS_QEMU qemu-aarch64-static)
include(${CMAKE_CURRENT_LIST_DIR}/TarvCrossToolchain.cmake)
