# The reconciliation check's report (tavolene-batch --check): the text
# output, the JSON and the exit statuses, over the comparison in reconcile/.
find_package(nlohmann_json 3 REQUIRED)

add_library(tavolene_check STATIC
  ${CMAKE_CURRENT_LIST_DIR}/CheckReport.cpp
)
target_include_directories(tavolene_check PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(tavolene_check PUBLIC tavolene_reconcile PRIVATE nlohmann_json::nlohmann_json)

if(TARGET tavolene_batchlib)
  target_link_libraries(tavolene_batchlib PUBLIC tavolene_check tavolene_reconcile)
endif()
