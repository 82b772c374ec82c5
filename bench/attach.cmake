# Hooks bench/ into a build of the project whose top CMakeLists.txt does not
# list it yet: scripts/bench.sh passes this file as the project's include, and
# the deferred call reads bench/CMakeLists.txt after every library is defined.
cmake_language(DEFER DIRECTORY ${CMAKE_SOURCE_DIR} CALL include
               ${CMAKE_CURRENT_LIST_DIR}/CMakeLists.txt)
