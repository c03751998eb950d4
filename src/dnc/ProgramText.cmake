# Program text filters, machine-specific adjustments and channel file names.
target_sources(nodalis_core PRIVATE
  ${CMAKE_CURRENT_SOURCE_DIR}/dnc/LineFiles.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/dnc/CharLists.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/dnc/CharFilters.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/dnc/SendPreparation.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/dnc/ReceptionFilters.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/dnc/SyntaxCheck.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/dnc/ProgramHeader.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/dnc/ProgramNumber.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/dnc/MachineSpecifics.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/dnc/MultiProgramFiles.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/dnc/MazakTable.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/dnc/ChannelFiles.cpp
)
