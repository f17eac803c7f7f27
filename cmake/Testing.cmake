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
    set_tests_properties(${name} PROPERTIES
        ENVIRONMENT "QT_QPA_PLATFORM=offscreen"
        TIMEOUT ${T_TIMEOUT}
        LABELS "${T_LABELS}")
endfunction()
