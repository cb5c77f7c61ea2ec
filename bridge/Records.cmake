# The report-log record model and the record kinds. They reach the rest of the library only
# through IRecordContext, so they build and test without the COM server around them.
add_library(zeltarn_records STATIC
  ${CMAKE_CURRENT_LIST_DIR}/KyLogInfo.cpp
  ${CMAKE_CURRENT_LIST_DIR}/KyLogInfoKinds.cpp
  ${CMAKE_CURRENT_LIST_DIR}/KyLogInfoInetTimeLimit.cpp
  ${CMAKE_CURRENT_LIST_DIR}/KyLogInfoEvent.cpp
  ${CMAKE_CURRENT_LIST_DIR}/RecordText.cpp)
target_include_directories(zeltarn_records PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(zeltarn_records PUBLIC kyinterfaces foundation ole32 oleaut32)
