# Toolchain for the i386 preset: 32-bit x86 with Debian's g++-multilib, against the private sysroot
# scripts/setup-i386 builds (i386 libraries unpacked from Debian packages, GoogleTest built -m32).
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(PLENOR_I386_SYSROOT ${CMAKE_CURRENT_LIST_DIR}/../build/i386-sysroot)
get_filename_component(PLENOR_I386_SYSROOT ${PLENOR_I386_SYSROOT} ABSOLUTE)
# SSE2 arithmetic for floating point: the x87 unit's 80-bit intermediates round differently, and
# the 32-bit modules must give exactly the 64-bit build's bytes.
set(CMAKE_C_FLAGS_INIT "-m32 -msse2 -mfpmath=sse")
set(CMAKE_CXX_FLAGS_INIT "-m32 -msse2 -mfpmath=sse")
# DT_RPATH rather than DT_RUNPATH: it also serves the libraries' own dependencies (libpng -> libz),
# which the system has no i386 copy of.
set(PLENOR_I386_LIBDIRS ${PLENOR_I386_SYSROOT}/usr/lib/i386-linux-gnu ${PLENOR_I386_SYSROOT}/lib/i386-linux-gnu)
list(JOIN PLENOR_I386_LIBDIRS ":" _plenor_i386_rpath)
foreach(kind EXE SHARED MODULE)
  set(CMAKE_${kind}_LINKER_FLAGS_INIT "-m32 -Wl,--disable-new-dtags -Wl,-rpath,${_plenor_i386_rpath}")
endforeach()
set(CMAKE_FIND_ROOT_PATH ${PLENOR_I386_SYSROOT})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE BOTH)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_LIBRARY_ARCHITECTURE i386-linux-gnu)
set(ENV{PKG_CONFIG_LIBDIR} ${PLENOR_I386_SYSROOT}/usr/lib/i386-linux-gnu/pkgconfig)
set(ENV{PKG_CONFIG_SYSROOT_DIR} "")
