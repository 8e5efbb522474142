# CLI11 for the mingw build of kvph, made available like nlohmann/json (mingw-json.cmake): it is
# header-only, so the build gets a copy of just its folder and the host's /usr/include never enters the
# cross compiler's include path. The target carries the name its package config gives it.
find_path(KVPH_HOST_CLI11_INCLUDE CLI/CLI.hpp PATHS /usr/include NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
if(NOT KVPH_HOST_CLI11_INCLUDE)
    message(FATAL_ERROR "CLI/CLI.hpp not found under /usr/include (Debian package libcli11-dev)")
endif()
set(KVPH_MINGW_CLI11_INCLUDE ${CMAKE_BINARY_DIR}/third_party/cli11/include)
file(COPY ${KVPH_HOST_CLI11_INCLUDE}/CLI DESTINATION ${KVPH_MINGW_CLI11_INCLUDE})
if(NOT TARGET CLI11::CLI11)
    add_library(CLI11::CLI11 INTERFACE IMPORTED GLOBAL)
    set_target_properties(CLI11::CLI11 PROPERTIES INTERFACE_INCLUDE_DIRECTORIES ${KVPH_MINGW_CLI11_INCLUDE})
endif()
