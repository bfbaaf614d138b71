# Common part of the cross-build toolchains for the station's boards, with
# Debian's multiarch packages: the <triplet>- compilers and the :<arch>
# variants of the -dev packages (scripts/cross.sh installs them). The
# including file sets CMAKE_SYSTEM_PROCESSOR, TARV_CROSS_TRIPLET and
# TARV_CROSS_QEMU.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_C_COMPILER ${TARV_CROSS_TRIPLET}-gcc)
set(CMAKE_CXX_COMPILER ${TARV_CROSS_TRIPLET}-g++)
set(CMAKE_LIBRARY_ARCHITECTURE ${TARV_CROSS_TRIPLET})

# Test programs run under qemu-user (ctest and test discovery).
find_program(TARV_CROSS_EMULATOR ${TARV_CROSS_QEMU})
if(TARV_CROSS_EMULATOR)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${TARV_CROSS_EMULATOR})
endif()

# protoc and grpc_cpp_plugin run on the build machine; libraries and
# headers come from the target architecture's multiarch directories.
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(ENV{PKG_CONFIG_LIBDIR} /usr/lib/${TARV_CROSS_TRIPLET}/pkgconfig:/usr/share/pkgconfig)
set(ENV{PKG_CONFIG_PATH} "")
