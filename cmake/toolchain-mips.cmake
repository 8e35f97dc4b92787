# Cross-build for the reference device: 32-bit big-endian MIPS Linux, using the
# distribution's mips-linux-gnu cross compilers, with every target program run
# under qemu-user so that ctest and the test drivers work on an x86 host.
#
# Use: cmake -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mips.cmake ...
# GoogleTest must first be built for the target with this same file (see
# scripts/cross-test.sh); ZEL_MIPS_GTEST_PREFIX names where it was installed.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR mips)

set(CMAKE_C_COMPILER mips-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER mips-linux-gnu-g++)

# The target's C library, headers and loader live here. It is not passed as
# --sysroot: the distribution's cross compilers already search it under their
# own layout (include/, lib/), which --sysroot would redirect to usr/include.
set(ZEL_MIPS_SYSROOT /usr/mips-linux-gnu CACHE PATH "Target C library root")

set(ZEL_MIPS_GTEST_PREFIX ${CMAKE_CURRENT_LIST_DIR}/../build-mips-gtest/install
    CACHE PATH "Install prefix of GoogleTest built for the target")

# Libraries and packages come only from the target roots; programs (the host's
# tools) only from the host.
set(CMAKE_FIND_ROOT_PATH ${ZEL_MIPS_SYSROOT} ${ZEL_MIPS_GTEST_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(GTest_DIR ${ZEL_MIPS_GTEST_PREFIX}/lib/cmake/GTest CACHE PATH "GoogleTest for the target")

# 64-bit file interfaces: the host's file system gives an emulated 32-bit
# process 64-bit directory cookies, which the 32-bit readdir refuses with
# EOVERFLOW (a directory then reads as empty).
set(CMAKE_C_FLAGS_INIT -D_FILE_OFFSET_BITS=64)
set(CMAKE_CXX_FLAGS_INIT -D_FILE_OFFSET_BITS=64)

# Static programs start faster under the emulator (no emulated dynamic loader)
# and can be started as plain "qemu-mips PROGRAM" by test drivers.
option(ZEL_MIPS_STATIC "Link every target program statically" ON)
if(ZEL_MIPS_STATIC)
  set(CMAKE_EXE_LINKER_FLAGS_INIT -static)
endif()

# ctest prefixes this to every test whose command is a target of the project;
# -L lets dynamically linked programs find the target's loader and libraries.
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-mips -L ${ZEL_MIPS_SYSROOT})
