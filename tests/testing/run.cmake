# Run controller tests.
rx_add_test(test_run_controller SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_run_controller.cpp
            ${CMAKE_CURRENT_LIST_DIR}/RunFixture.h LABELS run pty tsan TIMEOUT 600)
rx_add_test(test_cli_run SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_cli_run.cpp LABELS run pty)
rx_add_test(test_journal_recovery SOURCES test_journal_recovery.cpp)
rx_add_test(test_kill_recover SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_kill_recover.cpp LABELS run pty)
