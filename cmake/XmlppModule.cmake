# xmlpp_module(<target> HEADERS <header>...)
#
# Makes the listed headers of a module, and only those, includable as "<folder>/<header>" by the
# module's target and by whatever links it: they are linked into a folder of the build tree that
# becomes the target's public include directory. So a module can only include the modules it links
# (the build fails on an include against the direction of dependencies), and headers left out of
# the list stay private to the module, whose own files include them by their bare name.
function(xmlpp_module target)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "" "HEADERS")
  cmake_path(GET CMAKE_CURRENT_SOURCE_DIR FILENAME folder)
  set(root "${PROJECT_BINARY_DIR}/modules/${target}")
  file(REMOVE_RECURSE "${root}")
  file(MAKE_DIRECTORY "${root}/${folder}")
  foreach(header IN LISTS arg_HEADERS)
    file(CREATE_LINK "${CMAKE_CURRENT_SOURCE_DIR}/${header}" "${root}/${folder}/${header}"
      SYMBOLIC)
  endforeach()
  get_target_property(type ${target} TYPE)
  if(type STREQUAL "INTERFACE_LIBRARY")
    target_include_directories(${target} INTERFACE "${root}")
  else()
    target_include_directories(${target} PUBLIC "${root}")
  endif()
endfunction()
