# nlohmann-json, header-only, from Debian's nlohmann-json3-dev. The build sees
# a directory of its own that holds only a link to the package's headers, so
# the Windows cross-build takes these headers without the rest of the native
# /usr/include.
find_path(VTX_NLOHMANN_JSON_DIR nlohmann/json.hpp PATHS /usr/include NO_CMAKE_FIND_ROOT_PATH
          REQUIRED DOC "The directory that holds nlohmann/json.hpp")
set(vtx_nlohmann_include ${CMAKE_BINARY_DIR}/third_party/include)
file(MAKE_DIRECTORY ${vtx_nlohmann_include})
file(CREATE_LINK ${VTX_NLOHMANN_JSON_DIR}/nlohmann ${vtx_nlohmann_include}/nlohmann SYMBOLIC)
add_library(vtx_nlohmann_json INTERFACE)
target_include_directories(vtx_nlohmann_json SYSTEM INTERFACE ${vtx_nlohmann_include})
