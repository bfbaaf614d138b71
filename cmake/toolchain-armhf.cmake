# Cross-build for armhf boards with Debian's multiarch packages: the
# arm-linux-gnueabihf- compilers and the :armhf variants of the -dev packages.
# scripts/cross.sh armhf installs them.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR arm)
set(CMAKE_C_COMPILER arm-linux-gnueabihf-gcc)
set(CMAKE_CXX_COMPILER arm-linux-gnueabihf-g++)
set(CMAKE_LIBRARY_ARCHITECTURE arm-linux-gnueabihf)

# Test programs run under qemu-user (ctest and test discovery).
find_program(TARV_CROSS_EMULATOR qemu-arm-static)
if(TARV_CROSS_EMULATOR)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${TARV_CROSS_EMULATOR})
endif()

# protoc and grpc_cpp_plugin run on the build machine; libraries and
# headers come from the target architecture's multiarch directories.
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(ENV{PKG_CONFIG_LIBDIR} /usr/lib/arm-linux-gnueabihf/pkgconfig:/usr/share/pkgconfig)
set(ENV{PKG_CONFIG_PATH} "")
