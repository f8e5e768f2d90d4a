# The setup sheet and its validation.
target_sources(rivuletrix_core PRIVATE
    ${CMAKE_CURRENT_LIST_DIR}/SetupAccept.cpp ${CMAKE_CURRENT_LIST_DIR}/SetupAccept.h
    ${CMAKE_CURRENT_LIST_DIR}/SetupForm.cpp ${CMAKE_CURRENT_LIST_DIR}/SetupForm.h
    ${CMAKE_CURRENT_LIST_DIR}/SetupRules.cpp ${CMAKE_CURRENT_LIST_DIR}/SetupRules.h
)
if(RIVULETRIX_GUI)
    target_sources(rivuletrix_gui PRIVATE
        ${CMAKE_CURRENT_LIST_DIR}/SetupPages.cpp ${CMAKE_CURRENT_LIST_DIR}/SetupPages.h
        ${CMAKE_CURRENT_LIST_DIR}/SetupSheet.cpp ${CMAKE_CURRENT_LIST_DIR}/SetupSheet.h
    )
endif()
