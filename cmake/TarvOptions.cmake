# Compiler flags shared by every target of the project.

# __FILE__ is written relative to the repository root, so log lines carry
# "(path/relative/to/repo/file.cpp:LINE) " without any run-time string work.
add_compile_options(-ffile-prefix-map=${CMAKE_SOURCE_DIR}/=)

add_compile_options(-Wall -Wextra -Wpedantic)

# Every function and object in a section of its own, so that the daemon's
# link can drop what it never uses (see src/CMakeLists.txt): a third of its
# code, and of the pages it keeps resident. The sanitizer builds only run
# tests: there the extra sections only slow their links down.
if(NOT TARV_SANITIZE)
  add_compile_options(-ffunction-sections -fdata-sections)
endif()

# Build time: the LLVM linker links a test program about four times faster
# than the default one (most of a sanitizer build's links). Native builds
# only; a cross-build keeps its toolchain's linker.
include(CheckLinkerFlag)
if(NOT CMAKE_CROSSCOMPILING)
  check_linker_flag(CXX -fuse-ld=lld TARV_HAVE_LLD)
  if(TARV_HAVE_LLD)
    add_link_options(-fuse-ld=lld)
  endif()
endif()

# Build time: full debug information costs a quarter of each compile and most
# of each link; line tables and function names (-g1) are what backtraces and
# sanitizer reports use. Test programs need no -O2: -O1 compiles them a third
# faster (see tarv_add_test).
if(CMAKE_BUILD_TYPE MATCHES "^(RelWithDebInfo|Debug)$")
  add_compile_options(-g1)
endif()
if(TARV_WERROR)
  add_compile_options(-Werror)
endif()

# Build time: the sanitizer trees compile the product again only to run the
# tests. There each target's files are compiled as unity sources (included
# into a few translation units), which halves the compile time: most of a
# file's time goes into the headers and inline code that every file of a
# target shares. The optimised tree, whose daemon is shipped and measured,
# compiles file by file. Names local to a .cpp file must therefore be unique
# within its target.
if(TARV_SANITIZE)
  set(CMAKE_UNITY_BUILD ON)
endif()

if(TARV_SANITIZE)
  string(REPLACE ";" "," _tarv_san "${TARV_SANITIZE}")
  add_compile_options(-fsanitize=${_tarv_san} -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_link_options(-fsanitize=${_tarv_san})
endif()

# Adds a GoogleTest executable and registers its cases with CTest.
# tarv_add_test(NAME <name> SOURCES <files...> LIBS <libs...> [LABELS <labels...>] [PROGRAM])
# The label "concurrency" puts the test into the ThreadSanitizer run;
# the label "kernel" marks tests that need root and network namespaces.
# PROGRAM marks a test that drives the built programs: it is built even when
# TARV_UNIT_TESTS is off.
function(tarv_add_test)
  cmake_parse_arguments(T "PROGRAM" "NAME" "SOURCES;LIBS;LABELS" ${ARGN})
  if(NOT TARV_UNIT_TESTS AND NOT T_PROGRAM)
    return()
  endif()
  add_executable(${T_NAME} ${T_SOURCES})
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} tarv_testsupport GTest::gmock GTest::gtest_main)
  if(CMAKE_BUILD_TYPE MATCHES "^(RelWithDebInfo|Release|MinSizeRel)$")
    target_compile_options(${T_NAME} PRIVATE -O1)
  endif()
  set(_props TIMEOUT 120)
  if(T_LABELS)
    list(APPEND _props LABELS "${T_LABELS}")
  endif()
  gtest_discover_tests(${T_NAME} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 30 PROPERTIES ${_props})
  if("concurrency" IN_LIST T_LABELS)
    set_property(GLOBAL APPEND PROPERTY TARV_CONCURRENCY_TESTS ${T_NAME})
  endif()
endfunction()
