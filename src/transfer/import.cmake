# The import from an analyzer: downloads, staging and merge in the core; the
# sheet, its pages and the progress dialog are widgets.
target_sources(rivuletrix_core PRIVATE
    ${CMAKE_CURRENT_LIST_DIR}/ImportItems.h
    ${CMAKE_CURRENT_LIST_DIR}/ImportStaging.cpp ${CMAKE_CURRENT_LIST_DIR}/ImportStaging.h
    ${CMAKE_CURRENT_LIST_DIR}/ImportDownload.cpp ${CMAKE_CURRENT_LIST_DIR}/ImportDownload.h
    ${CMAKE_CURRENT_LIST_DIR}/ImportMerge.cpp ${CMAKE_CURRENT_LIST_DIR}/ImportMerge.h
    ${CMAKE_CURRENT_LIST_DIR}/NotesFileName.cpp ${CMAKE_CURRENT_LIST_DIR}/NotesFileName.h
)
if(RIVULETRIX_GUI)
    target_sources(rivuletrix_gui PRIVATE
        ${CMAKE_CURRENT_LIST_DIR}/ImportContext.h
        ${CMAKE_CURRENT_LIST_DIR}/ImportListPage.cpp ${CMAKE_CURRENT_LIST_DIR}/ImportListPage.h
        ${CMAKE_CURRENT_LIST_DIR}/ImportProgressDlg.cpp ${CMAKE_CURRENT_LIST_DIR}/ImportProgressDlg.h
        ${CMAKE_CURRENT_LIST_DIR}/ImportRecordDlg.cpp ${CMAKE_CURRENT_LIST_DIR}/ImportRecordDlg.h
        ${CMAKE_CURRENT_LIST_DIR}/ImportTemplateDlg.cpp ${CMAKE_CURRENT_LIST_DIR}/ImportTemplateDlg.h
        ${CMAKE_CURRENT_LIST_DIR}/ImportUserNotesDlg.cpp ${CMAKE_CURRENT_LIST_DIR}/ImportUserNotesDlg.h
        ${CMAKE_CURRENT_LIST_DIR}/ImportAndMergeSheet.cpp ${CMAKE_CURRENT_LIST_DIR}/ImportAndMergeSheet.h
    )
endif()
