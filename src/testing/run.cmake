# The run controller and template runs.
target_sources(rivuletrix_core PRIVATE
    ${CMAKE_CURRENT_LIST_DIR}/RunController.cpp ${CMAKE_CURRENT_LIST_DIR}/RunController.h
    ${CMAKE_CURRENT_LIST_DIR}/RunHost.cpp ${CMAKE_CURRENT_LIST_DIR}/RunHost.h
    ${CMAKE_CURRENT_LIST_DIR}/TemplateRun.cpp
    ${CMAKE_CURRENT_LIST_DIR}/JournalRecovery.cpp ${CMAKE_CURRENT_LIST_DIR}/JournalRecovery.h
)
if(RIVULETRIX_GUI)
    target_sources(rivuletrix_gui PRIVATE
        ${CMAKE_CURRENT_LIST_DIR}/TemplateNextStepDlg.cpp ${CMAKE_CURRENT_LIST_DIR}/TemplateNextStepDlg.h
    )
endif()
