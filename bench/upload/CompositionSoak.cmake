# The composition soak: the upload run on the port owner, in one process, against the device
# simulator with random sequences of operator actions and device faults. Included by
# bench/upload and, where the benchmarks are off (the AddressSanitizer build), by the top level,
# so that its short version is part of every test suite.
if(TARGET pellwick_e2e_support AND TARGET pellwick_upload_run AND NOT TARGET upload_composition_soak)
    add_executable(upload_composition_soak
        ${CMAKE_CURRENT_LIST_DIR}/CompositionSoak.cpp ${CMAKE_CURRENT_LIST_DIR}/SoakPlan.cpp)
    pellwick_warnings(upload_composition_soak)
    target_link_libraries(upload_composition_soak PRIVATE
        pellwick_e2e_support pellwick_test_harness pellwick_upload_run pellwick_link_port
        pellwick_terminal_widgets Qt6::Widgets)
    set_target_properties(upload_composition_soak PROPERTIES
        AUTOMOC OFF
        RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/bench/upload)
    # The short soak in the test suite: 50 runs of a fixed seed, each kind of sequence in turn,
    # about two and a half minutes, most of it the simulator's pauses and verification waits.
    add_test(NAME upload_composition_soak_short COMMAND upload_composition_soak 50 13)
    set_tests_properties(upload_composition_soak_short PROPERTIES
        ENVIRONMENT "QT_QPA_PLATFORM=offscreen"
        TIMEOUT 300)
endif()
