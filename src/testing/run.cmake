# The run controller and template runs.
target_sources(rivuletrix_core PRIVATE
    ${CMAKE_CURRENT_LIST_DIR}/RunController.cpp ${CMAKE_CURRENT_LIST_DIR}/RunController.h
    ${CMAKE_CURRENT_LIST_DIR}/TemplateRun.cpp
)
