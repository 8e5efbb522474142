# Cross-compiles for Windows x64 the MSVC way without an MSVC installation: clang for the MSVC target and
# lld-link, with no C runtime (the programs built with it bring their own entry point and import
# libraries). CMake's checks compile without linking, since there is nothing to link a test program with.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(CMAKE_C_COMPILER clang)
set(CMAKE_C_COMPILER_TARGET x86_64-pc-windows-msvc)
set(CMAKE_LINKER lld-link)
set(CMAKE_AR llvm-ar)
set(CMAKE_C_FLAGS_INIT -ffreestanding)
# CMake asks for a runtime in each object (--dependent-lib=msvcrt); the linker is told to take none.
set(CMAKE_EXE_LINKER_FLAGS_INIT -Wl,/nodefaultlib)
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)
# No system import libraries either: a program names the ones it makes itself.
set(CMAKE_C_STANDARD_LIBRARIES "")
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
