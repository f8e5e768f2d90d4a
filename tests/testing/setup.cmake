# Setup sheet tests.
rx_add_test(test_setup_validation SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_setup_validation.cpp)
rx_add_test(test_setup_sheet GUI SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_setup_sheet.cpp)
