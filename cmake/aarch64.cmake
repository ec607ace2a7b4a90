# Cross-building for a 64-bit ARM Linux handheld on a Debian machine with arm64 as a foreign
# architecture (crossbuild-essential-arm64 and the :arm64 -dev packages), as scripts/handheld.sh
# does. ctest runs the tests as arm64 programs through qemu's user-mode emulator.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)
set(CMAKE_LIBRARY_ARCHITECTURE aarch64-linux-gnu)
# the build's own tools (pkg-config, python3) are the build machine's
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-aarch64-static)
# only the arm64 packages' .pc files, and whatever PKG_CONFIG_PATH adds in front of them
set(ENV{PKG_CONFIG_LIBDIR} /usr/lib/aarch64-linux-gnu/pkgconfig:/usr/share/pkgconfig)
