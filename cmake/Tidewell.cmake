# tidewell_library(<target> SOURCES ... DEPENDS ...)
# One static library per source folder; the folder's parent (src/) is the include root.
function(tidewell_library target)
    cmake_parse_arguments(ARG "" "" "SOURCES;DEPENDS" ${ARGN})
    add_library(${target} STATIC ${ARG_SOURCES})
    target_include_directories(${target} PUBLIC ${PROJECT_SOURCE_DIR}/src ${PROJECT_BINARY_DIR}/src)
    target_link_libraries(${target} PUBLIC ${ARG_DEPENDS})
endfunction()

# tidewell_test(<target> [THREADED] [POSTGRES] [WIDGETS] SOURCES ... DEPENDS ...)
# One GoogleTest executable per test folder; tests are discovered when ctest runs,
# so the build never executes a test binary. THREADED marks units that are used from several
# threads: they also run under ThreadSanitizer (target tw_threaded_tests, ctest label "threaded").
# POSTGRES tests need the throwaway PostgreSQL server of the ctest fixture tw_postgres (defined in
# tests/CMakeLists.txt); they find it through the file named by TIDEWELL_PG_ENV.
# WIDGETS tests get a QApplication on the offscreen platform (tw_testsupport_widgets) instead of the
# QCoreApplication of tw_testsupport.
set(TIDEWELL_PG_TEST_DIR ${PROJECT_BINARY_DIR}/pg-test-server)
if(NOT TARGET tw_threaded_tests)
    add_custom_target(tw_threaded_tests)
endif()

function(tidewell_test target)
    cmake_parse_arguments(ARG "THREADED;POSTGRES;WIDGETS" "" "SOURCES;DEPENDS" ${ARGN})
    add_executable(${target} ${ARG_SOURCES})
    set(support tw_testsupport)
    if(ARG_WIDGETS)
        set(support tw_testsupport_widgets)
    endif()
    target_link_libraries(${target} PRIVATE ${ARG_DEPENDS} ${support} GTest::gtest GTest::gmock)
    # One label only: a list would be split on its way through the discovery script.
    set(label unit)
    if(ARG_THREADED)
        set(label threaded)
        add_dependencies(tw_threaded_tests ${target})
    endif()
    set(properties TIMEOUT 120 LABELS ${label})
    if(ARG_POSTGRES)
        list(APPEND properties FIXTURES_REQUIRED tw_postgres
             ENVIRONMENT TIDEWELL_PG_ENV=${TIDEWELL_PG_TEST_DIR}/connection.env)
    endif()
    gtest_discover_tests(${target} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60
                         PROPERTIES ${properties})
endfunction()
