# GoogleTest: Debian's packaged libraries for the native build; for the
# Windows cross-build, the sources Debian ships in /usr/src/googletest.
if(CMAKE_CROSSCOMPILING)
    set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
    add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
    # GoogleTest's own build defines the GTest:: aliases.
else()
    find_package(GTest REQUIRED)
endif()

# vtx_add_test(NAME source...): one test program, run by ctest as one test
# (under Wine for the Windows build, through CMAKE_CROSSCOMPILING_EMULATOR).
function(vtx_add_test name)
    add_executable(${name} ${ARGN})
    target_link_libraries(${name} PRIVATE vtx_testsupport GTest::gtest GTest::gtest_main)
    add_test(NAME ${name} COMMAND ${name})
    set_tests_properties(${name} PROPERTIES TIMEOUT 300)
endfunction()
