# The program store: connections, schema, programs, uploads and the journal.
target_sources(nodalis_core PRIVATE
  ${CMAKE_CURRENT_SOURCE_DIR}/store/ProgramDatabase.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/store/StoreSchema.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/store/ProgramRecords.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/store/UploadRecords.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/store/ProgramJournal.cpp
)
