# The composition soak: the run objects of the main window, pellwick-run and the station, in one
# process, with random sequences of operator actions and device faults, on the virtual clock
# against virtual device ports or on the real clock against the device simulator. Included by
# bench/upload and, where the benchmarks are off (the AddressSanitizer build), by the top level,
# so that its short versions are part of every test suite.
if(TARGET pellwick_e2e_support AND TARGET pellwick_upload_run AND TARGET pellwick_test_virtual_port
   AND NOT TARGET upload_composition_soak)
    add_executable(upload_composition_soak
        ${CMAKE_CURRENT_LIST_DIR}/CompositionSoak.cpp
        ${CMAKE_CURRENT_LIST_DIR}/RealSoak.cpp
        ${CMAKE_CURRENT_LIST_DIR}/SoakLane.cpp
        ${CMAKE_CURRENT_LIST_DIR}/SoakPlan.cpp
        ${CMAKE_CURRENT_LIST_DIR}/VirtualSoak.cpp)
    pellwick_warnings(upload_composition_soak)
    target_link_libraries(upload_composition_soak PRIVATE
        pellwick_e2e_support pellwick_test_harness pellwick_test_virtual_port pellwick_upload_run
        pellwick_link_port pellwick_station pellwick_headless pellwick_outcome
        pellwick_terminal_widgets
        Qt6::Widgets)
    set_target_properties(upload_composition_soak PROPERTIES
        AUTOMOC OFF
        RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/bench/upload)
    # The short soaks, a fixed seed each, one test a program. On the virtual clock, in the test
    # suite, enough runs for every kind of sequence and every kind of wait a cancel lands in
    # (a second); on the real clock, among the real-time soaks, twenty runs, 15 to 30 s a
    # program, most of it the simulator's pauses and verification waits.
    foreach(program window runner station)
        add_test(NAME upload_composition_soak_virtual_short_${program}
            COMMAND upload_composition_soak --programs ${program} 400 13)
        add_test(NAME upload_composition_soak_short_${program}
            COMMAND upload_composition_soak --clock real --programs ${program} 20 13)
        pellwick_test_properties(upload_composition_soak_virtual_short_${program} TIMEOUT 300)
        pellwick_test_properties(upload_composition_soak_short_${program}
            TIMEOUT 300 LABELS realtime)
    endforeach()
endif()
