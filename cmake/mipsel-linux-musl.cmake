# Cross-build for the router's own C library: 32-bit little-endian MIPS, musl,
# soft-float (mips32r2 without FPU, as OpenWrt's mipsel_24kc), through the
# compiler wrappers that sim/cross/musl-build.sh writes.
#   MUSL_TOOLCHAIN  the folder of those wrappers (bin-static, bin-dynamic)
#   MUSL_LINK       static (runs under qemu-mipsel as it is) or dynamic (as
#                   OpenWrt's SDK links, against libc.so)
#   MUSL_SYSROOT    libpcap built for the target, under usr/
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR mipsel)

set(MUSL_TOOLCHAIN "" CACHE PATH "Folder of the musl compiler wrappers")
set(MUSL_LINK static CACHE STRING "static or dynamic")
set(MUSL_SYSROOT "" CACHE PATH "Libraries built for the target")
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES MUSL_TOOLCHAIN MUSL_LINK MUSL_SYSROOT)

set(CMAKE_C_COMPILER ${MUSL_TOOLCHAIN}/bin-${MUSL_LINK}/cc)
set(CMAKE_CXX_COMPILER ${MUSL_TOOLCHAIN}/bin-${MUSL_LINK}/c++)
set(CMAKE_AR ${MUSL_TOOLCHAIN}/bin-${MUSL_LINK}/ar CACHE FILEPATH "Archiver")
set(CMAKE_RANLIB ${MUSL_TOOLCHAIN}/bin-${MUSL_LINK}/ranlib CACHE FILEPATH "Archive indexer")

set(CMAKE_FIND_ROOT_PATH ${MUSL_SYSROOT})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# musl has a 64-bit time_t only, and the libpcap built here has it too.
set(PCAP_TIME64 ON CACHE BOOL "The libpcap linked was built with a 64-bit time_t" FORCE)

# A CPU without FPU: a hard-float instruction anywhere ends the test with SIGILL.
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-mipsel;-cpu;24Kc)
