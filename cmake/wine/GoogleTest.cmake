# Under an emulator (Wine) every start of a program costs about a second, so a GoogleTest
# program runs as one CTest test instead of one per test case; its own output names each
# failing case.
include(${CMAKE_ROOT}/Modules/GoogleTest.cmake)

function(gtest_discover_tests target)
    cmake_parse_arguments(PARSE_ARGV 1 arg "NO_PRETTY_TYPES;NO_PRETTY_VALUES"
        "TEST_PREFIX;TEST_SUFFIX;WORKING_DIRECTORY;TEST_LIST;DISCOVERY_TIMEOUT;XML_OUTPUT_DIR;DISCOVERY_MODE"
        "EXTRA_ARGS;PROPERTIES;TEST_FILTER")
    add_test(NAME ${arg_TEST_PREFIX}${target} COMMAND ${target} ${arg_EXTRA_ARGS})
    set_tests_properties(${arg_TEST_PREFIX}${target} PROPERTIES TIMEOUT 300)
endfunction()
