# Leaves a DLL or program target with its debug information in its PDB only, and installs the PDB beside
# it. The static gcc runtime brings DWARF sections that no Windows debugger reads; stripping them keeps
# the CodeView record that names the PDB. The stripped binary is the one the Wine tests run and the
# package ships. A build with g++ has no PDB and keeps its DWARF.
function(kvph_ship_with_pdb target)
    if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
        return()
    endif()
    add_custom_command(TARGET ${target} POST_BUILD
        COMMAND ${CMAKE_STRIP} --strip-debug $<TARGET_FILE:${target}>
        VERBATIM)
    install(FILES $<TARGET_FILE_DIR:${target}>/$<TARGET_FILE_BASE_NAME:${target}>.pdb
        DESTINATION ${CMAKE_INSTALL_BINDIR})
endfunction()
