# The reconciliation check (tavolene-batch --check): a library of its own,
# without widgets, linked into the runner's library.
find_package(nlohmann_json 3 REQUIRED)

add_library(tavolene_check STATIC
  ${CMAKE_CURRENT_LIST_DIR}/Reconciliation.cpp
  ${CMAKE_CURRENT_LIST_DIR}/CheckReport.cpp
)
target_include_directories(tavolene_check PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(tavolene_check PUBLIC tavolene_transfer PRIVATE nlohmann_json::nlohmann_json)

if(TARGET tavolene_batchlib)
  target_link_libraries(tavolene_batchlib PUBLIC tavolene_check)
endif()
