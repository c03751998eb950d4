# Program store, upload storage, production tracking and the DURER_OVARE reception.
target_sources(nodalis_core PRIVATE
  ${CMAKE_CURRENT_SOURCE_DIR}/store/ProgramDatabase.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/store/StoreSchema.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/store/ProgramRecords.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/store/UploadRecords.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/store/ProgramJournal.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/dnc/UploadStorage.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/dnc/ProgramCompare.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/dnc/Tracking.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/dnc/ArcelReception.cpp
)
