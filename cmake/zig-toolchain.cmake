# Cross toolchain for the portable wheels: zig's clang, from the ziglang
# package of the package index, targeting a chosen libc and version, with its
# own libc++ linked statically (zig builds it per target, once, into its cache).
#   cmake -DCMAKE_TOOLCHAIN_FILE=cmake/zig-toolchain.cmake -DQUORVEL_ZIG_TARGET=aarch64-linux-gnu.2.17
#     [-DQUORVEL_ZIG=/path/to/zig]   (default: the zig of the ziglang package that python3 imports)
# Targets: x86_64-linux-gnu.2.17, aarch64-linux-gnu.2.17, x86_64-linux-musl, aarch64-linux-musl.
# The compiler is zig itself with "c++ -target TARGET" as mandatory arguments.
if(NOT QUORVEL_ZIG_TARGET)
  set(QUORVEL_ZIG_TARGET "$ENV{QUORVEL_ZIG_TARGET}")
endif()
if(NOT QUORVEL_ZIG)
  set(QUORVEL_ZIG "$ENV{QUORVEL_ZIG}")
endif()
if(NOT QUORVEL_ZIG_TARGET)
  message(FATAL_ERROR "zig toolchain: set QUORVEL_ZIG_TARGET (x86_64-linux-gnu.2.17, aarch64-linux-musl, ...)")
endif()
if(NOT QUORVEL_ZIG)
  find_program(quorvel_python3 NAMES python3 python REQUIRED)
  execute_process(
    COMMAND "${quorvel_python3}" -c "import os, ziglang; print(os.path.join(os.path.dirname(ziglang.__file__), 'zig'))"
    OUTPUT_VARIABLE QUORVEL_ZIG OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE quorvel_zig_found)
  if(NOT quorvel_zig_found EQUAL 0)
    message(FATAL_ERROR "zig toolchain: ${quorvel_python3} cannot import ziglang (pip install ziglang, or set QUORVEL_ZIG)")
  endif()
endif()
# try_compile projects read this file again: hand them the same settings.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES QUORVEL_ZIG_TARGET QUORVEL_ZIG)

string(REGEX MATCH "^[^-]+" CMAKE_SYSTEM_PROCESSOR "${QUORVEL_ZIG_TARGET}")
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_C_COMPILER "${QUORVEL_ZIG}" cc -target "${QUORVEL_ZIG_TARGET}")
set(CMAKE_CXX_COMPILER "${QUORVEL_ZIG}" c++ -target "${QUORVEL_ZIG_TARGET}")
# The archiver and ranlib of the build machine's binutils handle objects of
# every ELF target this file names.

# pyconfig.h of the interpreter whose headers are used restates the feature
# macros of its own glibc's headers, which zig's newer headers define to
# later values; the limited API does not depend on them.
set(CMAKE_CXX_FLAGS_INIT "-Wno-macro-redefined")
