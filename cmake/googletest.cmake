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
include(GoogleTest)

# Under Wine every process costs seconds, so there a program is one ctest test
# (its output still names each failed case); natively every case is one.
if(CMAKE_CROSSCOMPILING)
    set(per_case_default OFF)
else()
    set(per_case_default ON)
endif()
option(VTX_CTEST_PER_CASE "Register each GoogleTest case as a ctest test of its own"
       ${per_case_default})

# vtx_add_test(NAME source... [LABELS label...]): the test program of an area
# (NAME is test_<area>), its tests labelled with the area and any LABELS. Each
# case is the ctest test "<area>.<Suite>.<Case>", run in a process of its own,
# or the whole program is the test NAME (VTX_CTEST_PER_CASE). Under an
# emulator the cases are listed when ctest starts, with the test presets'
# environment, not while building.
function(vtx_add_test name)
    cmake_parse_arguments(PARSE_ARGV 1 arg "" "" "LABELS")
    add_executable(${name} ${arg_UNPARSED_ARGUMENTS})
    target_link_libraries(${name} PRIVATE vtx_testsupport GTest::gtest GTest::gtest_main)
    string(REGEX REPLACE "^test_" "" area ${name})
    set(labels ${area} ${arg_LABELS})
    if(NOT VTX_CTEST_PER_CASE)
        add_test(NAME ${name} COMMAND ${name})
        set_tests_properties(${name} PROPERTIES TIMEOUT 300 LABELS "${labels}")
        return()
    endif()
    if(CMAKE_CROSSCOMPILING_EMULATOR)
        set(mode PRE_TEST)
    else()
        set(mode POST_BUILD)
    endif()
    gtest_discover_tests(${name} TEST_PREFIX "${area}." TEST_LIST ${name}_cases
                         DISCOVERY_MODE ${mode} DISCOVERY_TIMEOUT 120 PROPERTIES TIMEOUT 300)
    # The discovered tests' properties are passed on as a flat list, which
    # loses a list of labels; they are set on the listed cases after discovery.
    set(script ${CMAKE_CURRENT_BINARY_DIR}/${name}_labels.cmake)
    file(WRITE ${script} "if(${name}_cases)\n"
                         "  set_tests_properties(\${${name}_cases} PROPERTIES LABELS \"${labels}\")\n"
                         "endif()\n")
    set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${script})
endfunction()
