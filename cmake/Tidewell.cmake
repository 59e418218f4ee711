# tidewell_library(<target> SOURCES ... DEPENDS ...)
# One static library per source folder; the folder's parent (src/) is the include root.
function(tidewell_library target)
    cmake_parse_arguments(ARG "" "" "SOURCES;DEPENDS" ${ARGN})
    add_library(${target} STATIC ${ARG_SOURCES})
    target_include_directories(${target} PUBLIC ${PROJECT_SOURCE_DIR}/src ${PROJECT_BINARY_DIR}/src)
    target_link_libraries(${target} PUBLIC ${ARG_DEPENDS})
endfunction()

# tidewell_test(<target> SOURCES ... DEPENDS ...)
# One GoogleTest executable per test folder; tests are discovered when ctest runs,
# so the build never executes a test binary.
function(tidewell_test target)
    cmake_parse_arguments(ARG "" "" "SOURCES;DEPENDS" ${ARGN})
    add_executable(${target} ${ARG_SOURCES})
    target_link_libraries(${target} PRIVATE ${ARG_DEPENDS} tw_testsupport GTest::gtest GTest::gmock)
    gtest_discover_tests(${target} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60
                         PROPERTIES TIMEOUT 120)
endfunction()
