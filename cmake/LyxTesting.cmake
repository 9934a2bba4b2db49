# lyx_add_test(<name> SOURCES <files...> LIBS <targets...> [LABELS <labels...>])
#
# Builds one GoogleTest executable and registers each of its test cases with
# CTest. The label "threads" marks tests that the thread-sanitizer build runs.

include(GoogleTest)
find_package(GTest REQUIRED)

function(lyx_add_test name)
    cmake_parse_arguments(ARG "" "" "SOURCES;LIBS;LABELS" ${ARGN})
    add_executable(${name} ${ARG_SOURCES})
    target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gmock GTest::gtest_main)
    set(props TIMEOUT 120)
    if(ARG_LABELS)
        list(APPEND props LABELS "${ARG_LABELS}")
    endif()
    gtest_discover_tests(${name}
        DISCOVERY_MODE PRE_TEST
        DISCOVERY_TIMEOUT 60
        PROPERTIES ${props})
endfunction()
