# Given to a checkout's configuration as CMAKE_PROJECT_INCLUDE: adds the export driver beside the
# checkout's own targets, linked with the library that holds the export there.
set(_quoril_export_driver_source ${CMAKE_CURRENT_LIST_DIR}/driver.cpp)
cmake_language(DEFER DIRECTORY ${CMAKE_SOURCE_DIR} CALL _quoril_add_export_driver)
function(_quoril_add_export_driver)
  add_executable(export_members_driver ${_quoril_export_driver_source})
  if(TARGET quoril_export)
    target_link_libraries(export_members_driver PRIVATE quoril_export)
  else()
    target_link_libraries(export_members_driver PRIVATE quoril_core)
  endif()
endfunction()
