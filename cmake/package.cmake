# What the mingw build hands to a host project: version resources for the DLL and kvph.exe, each with its
# PDB beside it, the install layout (bin/, lib/ with the import libraries of both toolchains, include/,
# lib/cmake/KvPartitionHelper/) with a CMake package config, and a zip of it made by CPack. The tests'
# programs have no install rules, so nothing of them is installed.
include(CMakePackageConfigHelpers)
include(GNUInstallDirs)

# Gives a DLL or program target a version resource naming its file.
function(kvph_add_version_resource target description)
    get_target_property(outputName ${target} OUTPUT_NAME)
    if(NOT outputName)
        set(outputName ${target})
    endif()
    get_target_property(type ${target} TYPE)
    if(type STREQUAL "SHARED_LIBRARY")
        set(KVPH_RC_FILE_TYPE VFT_DLL)
        set(KVPH_RC_FILE_NAME ${outputName}.dll)
    else()
        set(KVPH_RC_FILE_TYPE VFT_APP)
        set(KVPH_RC_FILE_NAME ${outputName}.exe)
    endif()
    set(KVPH_RC_INTERNAL_NAME ${outputName})
    set(KVPH_RC_DESCRIPTION ${description})
    set(rcFile ${CMAKE_BINARY_DIR}/version/${target}.rc)
    configure_file(${PROJECT_SOURCE_DIR}/cmake/version.rc.in ${rcFile} @ONLY)
    target_sources(${target} PRIVATE ${rcFile})
endfunction()

kvph_add_version_resource(KvPartitionHelper "VHDX drive and partition helper library")

set(KVPH_PACKAGE_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/KvPartitionHelper)

install(TARGETS KvPartitionHelper EXPORT KvPartitionHelperTargets
    RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
    ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
    INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(FILES ${PROJECT_SOURCE_DIR}/include/KvPartitionHelper.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})

# The import library for MSVC hosts, made from the same module definition as the DLL's export table. The
# mingw-w64 one (libKvPartitionHelper.dll.a) comes from the linker; the package config picks between them.
find_program(KVPH_DLLTOOL NAMES llvm-dlltool llvm-dlltool-14 REQUIRED)
set(KVPH_MSVC_IMPORT_LIBRARY ${CMAKE_BINARY_DIR}/KvPartitionHelper.lib)
add_custom_command(OUTPUT ${KVPH_MSVC_IMPORT_LIBRARY}
    COMMAND ${KVPH_DLLTOOL} -m i386:x86-64 -d ${PROJECT_SOURCE_DIR}/src/frame/exports.def
        -D KvPartitionHelper.dll -l ${KVPH_MSVC_IMPORT_LIBRARY}
    DEPENDS ${PROJECT_SOURCE_DIR}/src/frame/exports.def
    VERBATIM)
add_custom_target(KvPartitionHelper_msvc_import_library ALL DEPENDS ${KVPH_MSVC_IMPORT_LIBRARY})
install(FILES ${KVPH_MSVC_IMPORT_LIBRARY} DESTINATION ${CMAKE_INSTALL_LIBDIR})

if(TARGET kvph)
    kvph_add_version_resource(kvph "KvPartitionHelper command-line host")
    install(TARGETS kvph RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()

install(EXPORT KvPartitionHelperTargets
    NAMESPACE KvPartitionHelper::
    DESTINATION ${KVPH_PACKAGE_CMAKE_DIR})
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/KvPartitionHelperConfig.cmake.in
    ${CMAKE_BINARY_DIR}/package/KvPartitionHelperConfig.cmake
    INSTALL_DESTINATION ${KVPH_PACKAGE_CMAKE_DIR})
# Before 1.0 a new minor version may change the interface, so only the same minor version matches.
write_basic_package_version_file(${CMAKE_BINARY_DIR}/package/KvPartitionHelperConfigVersion.cmake
    COMPATIBILITY SameMinorVersion)
install(FILES ${CMAKE_BINARY_DIR}/package/KvPartitionHelperConfig.cmake
    ${CMAKE_BINARY_DIR}/package/KvPartitionHelperConfigVersion.cmake
    DESTINATION ${KVPH_PACKAGE_CMAKE_DIR})

set(CPACK_PACKAGE_NAME ${PROJECT_NAME})
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "VHDX drive and partition helper library for Windows x64")
set(CPACK_PACKAGE_FILE_NAME ${PROJECT_NAME}-${PROJECT_VERSION}-win64)
set(CPACK_GENERATOR ZIP)
include(CPack)
