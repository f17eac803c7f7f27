# pellwick_add_test(<name> SOURCES ... [LIBS ...] [QT | OWNMAIN] [TIMEOUT s] [LABELS ...])
# One GoogleTest executable = one ctest entry. QT gives it a main() that creates the Qt
# application on the offscreen platform, so widget tests run without a display; OWNMAIN leaves
# main() to the test's sources (for tests that need an application object of their own).
function(pellwick_add_test name)
    cmake_parse_arguments(T "QT;OWNMAIN" "TIMEOUT" "SOURCES;LIBS;LABELS" ${ARGN})
    add_executable(${name} ${T_SOURCES})
    pellwick_warnings(${name})
    if(T_QT)
        target_link_libraries(${name} PRIVATE pellwick_test_qt_main)
    elseif(NOT T_OWNMAIN)
        target_link_libraries(${name} PRIVATE GTest::gtest_main)
    endif()
    target_link_libraries(${name} PRIVATE GTest::gtest GTest::gmock Threads::Threads ${T_LIBS})
    # Shared test support (support/WaitUntil.h, ...).
    target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests)
    add_test(NAME ${name} COMMAND ${name})
    if(NOT T_TIMEOUT)
        set(T_TIMEOUT 300)
    endif()
    pellwick_test_properties(${name} TIMEOUT ${T_TIMEOUT} LABELS "${T_LABELS}")
endfunction()

# pellwick_test_properties(<test> TIMEOUT s [LABELS ...])
# What every test runs with: the offscreen platform, and a lock folder of its own
# (PELLWICK_LOCK_DIR), so that tests run side by side: a program of one test that still holds a
# pseudo-terminal's lock file never stands in the way of another test given that number.
# The label "realtime" marks the soaks that run on the real clock: the default test preset
# leaves them to a preset of their own.
function(pellwick_test_properties test)
    cmake_parse_arguments(T "" "TIMEOUT" "LABELS" ${ARGN})
    set(locks ${PROJECT_BINARY_DIR}/test-locks/${test})
    file(MAKE_DIRECTORY ${locks})
    set_tests_properties(${test} PROPERTIES
        ENVIRONMENT "QT_QPA_PLATFORM=offscreen;PELLWICK_LOCK_DIR=${locks}"
        TIMEOUT ${T_TIMEOUT}
        LABELS "${T_LABELS}")
endfunction()
