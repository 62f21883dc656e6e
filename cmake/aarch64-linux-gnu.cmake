# Cross build for 64-bit ARM Linux with Debian's g++-aarch64-linux-gnu.  The
# tests run the program under qemu-user.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)

set(toolchain_prefix aarch64-linux-gnu)
find_program(CMAKE_CXX_COMPILER NAMES ${toolchain_prefix}-g++ REQUIRED)
find_program(CMAKE_C_COMPILER NAMES ${toolchain_prefix}-gcc)

set(CMAKE_FIND_ROOT_PATH /usr/${toolchain_prefix})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

find_program(QEMU_AARCH64 NAMES qemu-aarch64 qemu-aarch64-static)
if(QEMU_AARCH64)
  # -L names the folder that holds the loader and libraries of a dynamic program.
  set(CMAKE_CROSSCOMPILING_EMULATOR ${QEMU_AARCH64} -L /usr/${toolchain_prefix})
endif()
