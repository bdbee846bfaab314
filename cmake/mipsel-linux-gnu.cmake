# Cross-build for the router: 32-bit little-endian MIPS with Debian's cross compiler.
# MIPSEL_SYSROOT names a folder holding the router libraries (libpcap and what it needs),
# unpacked from Debian's mipsel packages by sim/cross/build-mipsel.sh.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR mipsel)
set(CMAKE_C_COMPILER mipsel-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER mipsel-linux-gnu-g++)

set(MIPSEL_SYSROOT "" CACHE PATH "Unpacked mipsel libraries")
set(CMAKE_FIND_ROOT_PATH /usr/mipsel-linux-gnu ${MIPSEL_SYSROOT})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_LIBRARY_ARCHITECTURE mipsel-linux-gnu)

# Every library given is kept by default, as OpenWrt's toolchain links (Debian's
# cross GCC passes --as-needed): the daemons' own flags must leave unused ones out.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-Wl,--no-as-needed")
if(MIPSEL_SYSROOT)
  # libpcap's own dependencies are found at link time through rpath-link.
  string(APPEND CMAKE_EXE_LINKER_FLAGS_INIT " -Wl,-rpath-link,${MIPSEL_SYSROOT}/usr/lib/mipsel-linux-gnu -Wl,-rpath-link,${MIPSEL_SYSROOT}/lib/mipsel-linux-gnu")
endif()

# Tests run under user-mode emulation with the cross C library and the unpacked libraries.
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-mipsel;-L;/usr/mipsel-linux-gnu;-E;LD_LIBRARY_PATH=${MIPSEL_SYSROOT}/usr/lib/mipsel-linux-gnu:${MIPSEL_SYSROOT}/lib/mipsel-linux-gnu)
