# Cross-compiles for Windows x64 with clang and lld against Debian's mingw-w64 headers and runtime (gcc's
# C++ runtime, POSIX threading model), the settings of gcc-mingw-w64-x86_64.cmake with another compiler.
# Unlike g++, clang writes CodeView debug information, and lld collects it into a PDB beside each binary
# (foo.dll -> foo.pdb) whose debug directory names only the file, not the build folder, so a Windows
# debugger finds the PDB next to the binary.
include(${CMAKE_CURRENT_LIST_DIR}/gcc-mingw-w64-x86_64.cmake)

set(CMAKE_C_COMPILER clang)
set(CMAKE_CXX_COMPILER clang++)
set(CMAKE_C_COMPILER_TARGET x86_64-w64-windows-gnu)
set(CMAKE_CXX_COMPILER_TARGET x86_64-w64-windows-gnu)
set(CMAKE_STRIP x86_64-w64-mingw32-strip)

# clang does not recognise Debian's gcc version folder ("12-posix"), so g++ names it. The sysroot keeps
# the host's /usr/include out of the include path.
execute_process(COMMAND x86_64-w64-mingw32-g++-posix -print-libgcc-file-name
    OUTPUT_VARIABLE KVPH_MINGW_LIBGCC OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
get_filename_component(KVPH_MINGW_GCC_DIR ${KVPH_MINGW_LIBGCC} DIRECTORY)
set(KVPH_MINGW_SYSROOT --sysroot=/usr/x86_64-w64-mingw32)
set(KVPH_MINGW_CXX_INCLUDES "-isystem ${KVPH_MINGW_GCC_DIR}/include/c++"
    "-isystem ${KVPH_MINGW_GCC_DIR}/include/c++/x86_64-w64-mingw32"
    "-isystem ${KVPH_MINGW_GCC_DIR}/include/c++/backward")
list(JOIN KVPH_MINGW_CXX_INCLUDES " " KVPH_MINGW_CXX_INCLUDES)

set(CMAKE_C_FLAGS_INIT "${KVPH_MINGW_SYSROOT} -g -gcodeview")
set(CMAKE_CXX_FLAGS_INIT "${KVPH_MINGW_SYSROOT} ${KVPH_MINGW_CXX_INCLUDES} -g -gcodeview")
# gcc's thread-local storage emulation in libgcc_eh calls winpthreads: it is linked in statically (lld
# takes a library's symbols wherever it stands on the command line).
set(KVPH_MINGW_LINK_FLAGS "${KVPH_MINGW_SYSROOT} -fuse-ld=lld -L${KVPH_MINGW_GCC_DIR} -l:libwinpthread.a")
string(APPEND KVPH_MINGW_LINK_FLAGS " -Wl,--pdb= -Wl,-Xlink=-pdbaltpath:%_PDB%")
# CMake hands the compile flags to the link step as well, where -gcodeview has nothing to do.
string(APPEND KVPH_MINGW_LINK_FLAGS " -Wno-unused-command-line-argument")
set(CMAKE_EXE_LINKER_FLAGS_INIT ${KVPH_MINGW_LINK_FLAGS})
set(CMAKE_SHARED_LINKER_FLAGS_INIT ${KVPH_MINGW_LINK_FLAGS})
set(CMAKE_MODULE_LINKER_FLAGS_INIT ${KVPH_MINGW_LINK_FLAGS})

# A build folder configured earlier with g++ keeps that compiler in its CMakeFiles and the flags it
# started with in its cache. Forgetting both makes CMake take this compiler and these flags.
foreach(lang C CXX)
    set(KVPH_KNOWN_COMPILER ${CMAKE_BINARY_DIR}/CMakeFiles/${CMAKE_VERSION}/CMake${lang}Compiler.cmake)
    if(EXISTS ${KVPH_KNOWN_COMPILER})
        file(STRINGS ${KVPH_KNOWN_COMPILER} KVPH_KNOWN_ID REGEX "^set\\(CMAKE_${lang}_COMPILER_ID ")
        if(NOT KVPH_KNOWN_ID MATCHES "\"Clang\"")
            file(REMOVE ${KVPH_KNOWN_COMPILER})
            foreach(flags ${lang}_FLAGS EXE_LINKER_FLAGS SHARED_LINKER_FLAGS MODULE_LINKER_FLAGS)
                unset(CMAKE_${flags} CACHE)
            endforeach()
        endif()
    endif()
endforeach()
