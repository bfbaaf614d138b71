# Cross-build for arm64 boards with Debian's multiarch packages: the
# aarch64-linux-gnu- compilers and the :arm64 variants of the -dev packages.
# scripts/cross.sh arm64 installs them.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)
set(CMAKE_LIBRARY_ARCHITECTURE aarch64-linux-gnu)

# Test programs run under qemu-user (ctest and test discovery).
find_program(TARV_CROSS_EMULATOR qemu-aarch64-static)
if(TARV_CROSS_EMULATOR)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${TARV_CROSS_EMULATOR})
endif()

# protoc and grpc_cpp_plugin run on the build machine; libraries and
# headers come from the target architecture's multiarch directories.
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(ENV{PKG_CONFIG_LIBDIR} /usr/lib/aarch64-linux-gnu/pkgconfig:/usr/share/pkgconfig)
set(ENV{PKG_CONFIG_PATH} "")
