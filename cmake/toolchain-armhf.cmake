# Cross-build for armhf boards.
set(CMAKE_SYSTEM_PROCESSOR arm)
set(TARV_CROSS_TRIPLET arm-linux-gnueabihf)
set(TARV_CROSS_QEMU qemu-arm-static)
include(${CMAKE_CURRENT_LIST_DIR}/TarvCrossToolchain.cmake)
