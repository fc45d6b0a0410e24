# One static library per source folder, lowest layer first. A layer links only the layers below
# it: quoril_layer() refuses any other link when the project is configured, and builds a probe
# program that links the whole library with only what it links, so that a call into a higher layer
# (a function declared below and defined above) fails to link. scripts/check-layers refuses an
# include that points up.
set(QUORIL_LAYERS base numerics imaging camera model export editor viewers app)
set(_quoril_link_probe_main ${CMAKE_CURRENT_LIST_DIR}/layer_link_probe.cpp)

function(quoril_layer target)
  cmake_parse_arguments(LAYER "" "" "LINKS;EXCLUDE" ${ARGN})
  get_filename_component(_layer ${CMAKE_CURRENT_SOURCE_DIR} NAME)
  if(NOT _layer IN_LIST QUORIL_LAYERS)
    message(FATAL_ERROR "quoril_layer(${target}): ${CMAKE_CURRENT_SOURCE_DIR} is not a layer's folder; "
                        "the layers: ${QUORIL_LAYERS}")
  endif()
  file(GLOB _sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/*.h)
  foreach(pattern ${LAYER_EXCLUDE})
    list(FILTER _sources EXCLUDE REGEX "${pattern}")
  endforeach()
  add_library(${target} STATIC ${_sources})
  set_target_properties(${target} PROPERTIES QUORIL_LAYER ${_layer})
  target_include_directories(${target} PUBLIC ${PROJECT_SOURCE_DIR})
  target_link_libraries(${target} PUBLIC ${LAYER_LINKS})
  # Checked once every layer is known, so that links added later are held to the same rule.
  cmake_language(EVAL CODE
    "cmake_language(DEFER DIRECTORY [[${CMAKE_SOURCE_DIR}]] CALL _quoril_refuse_upward_links [[${target}]])")
  add_executable(${target}_link_probe ${_quoril_link_probe_main})
  target_link_libraries(${target}_link_probe PRIVATE "$<LINK_LIBRARY:WHOLE_ARCHIVE,${target}>")
endfunction()

function(_quoril_refuse_upward_links target)
  get_target_property(_layer ${target} QUORIL_LAYER)
  list(FIND QUORIL_LAYERS ${_layer} _rank)
  get_target_property(_links ${target} LINK_LIBRARIES)
  get_target_property(_interface ${target} INTERFACE_LINK_LIBRARIES)
  foreach(_link IN LISTS _links _interface)
    string(REGEX REPLACE "^\\$<LINK_ONLY:(.*)>$" "\\1" _link "${_link}")
    if(NOT TARGET "${_link}")
      continue()
    endif()
    get_target_property(_linked_layer ${_link} QUORIL_LAYER)
    if(NOT _linked_layer)
      continue()
    endif()
    list(FIND QUORIL_LAYERS ${_linked_layer} _linked_rank)
    if(_linked_rank GREATER_EQUAL _rank)
      list(JOIN QUORIL_LAYERS " < " _order)
      message(FATAL_ERROR "${target} (${_layer}/) links ${_link} (${_linked_layer}/), which is not below it: "
                          "a layer links only the layers below it, from the lowest: ${_order}")
    endif()
  endforeach()
endfunction()
