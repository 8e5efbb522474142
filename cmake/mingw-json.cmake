# nlohmann/json for the mingw build. It is header-only, so the build gets a copy of just its folder:
# the host's /usr/include must never enter the cross compiler's include path. The target carries the
# name its package config gives it, so find_package(nlohmann_json) in the mingw build finds this one.
find_path(KVPH_HOST_JSON_INCLUDE nlohmann/json.hpp PATHS /usr/include NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
if(NOT KVPH_HOST_JSON_INCLUDE)
    message(FATAL_ERROR "nlohmann/json.hpp not found under /usr/include (Debian package nlohmann-json3-dev)")
endif()
set(KVPH_MINGW_JSON_INCLUDE ${CMAKE_BINARY_DIR}/third_party/include)
file(COPY ${KVPH_HOST_JSON_INCLUDE}/nlohmann DESTINATION ${KVPH_MINGW_JSON_INCLUDE})
if(NOT TARGET nlohmann_json::nlohmann_json)
    add_library(nlohmann_json::nlohmann_json INTERFACE IMPORTED GLOBAL)
    set_target_properties(nlohmann_json::nlohmann_json PROPERTIES
        INTERFACE_INCLUDE_DIRECTORIES ${KVPH_MINGW_JSON_INCLUDE})
endif()
set(nlohmann_json_FOUND TRUE)
