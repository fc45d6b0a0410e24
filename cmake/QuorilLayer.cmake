# One static library per source folder. A layer links only the layers below it, so the linker
# refuses a call that points up; tools/check_layers refuses an include that does.
function(quoril_layer target)
  cmake_parse_arguments(LAYER "" "" "LINKS;EXCLUDE" ${ARGN})
  file(GLOB _sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/*.h)
  foreach(pattern ${LAYER_EXCLUDE})
    list(FILTER _sources EXCLUDE REGEX "${pattern}")
  endforeach()
  add_library(${target} STATIC ${_sources})
  target_include_directories(${target} PUBLIC ${PROJECT_SOURCE_DIR})
  target_link_libraries(${target} PUBLIC ${LAYER_LINKS})
endfunction()
