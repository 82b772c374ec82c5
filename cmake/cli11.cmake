# CLI11, header-only, from Debian's libcli11-dev: the command-line parser of
# the programs around the update tool (vtx_fwupdate keeps its own fixed command
# line). As with nlohmann-json, the build sees a directory of its own that
# holds only a link to the package's headers, so the Windows cross-build takes
# them without the rest of the native /usr/include, and as a system directory,
# so the library's own warnings do not fail our -Werror builds.
find_path(VTX_CLI11_DIR CLI/CLI.hpp PATHS /usr/include NO_CMAKE_FIND_ROOT_PATH REQUIRED
          DOC "The directory that holds CLI/CLI.hpp")
set(vtx_cli11_include ${CMAKE_BINARY_DIR}/third_party/cli11/include)
file(MAKE_DIRECTORY ${vtx_cli11_include})
file(CREATE_LINK ${VTX_CLI11_DIR}/CLI ${vtx_cli11_include}/CLI SYMBOLIC)
add_library(vtx_cli11 INTERFACE)
target_include_directories(vtx_cli11 SYSTEM INTERFACE ${vtx_cli11_include})
