# xmlpp_preprocess(OUTPUT <out> INPUT <in> [MACROS <macro list>] [DOCTYPE <name>]
#                  [WARN | STRICT] [OPTIONS <option>...])
#
# Adds a custom command that runs xmlpp::xmlpp on <in> and writes <out>. A relative INPUT is taken
# from the current source directory, a relative OUTPUT is put in the current binary directory. The
# macro list is handed to the tool as one argument ("A=1;B=2"); DOCTYPE adds <!DOCTYPE name>.
#
# The tool's options are --locations unless OPTIONS gives others: a failure in a build log then
# names the file, the line and the includes that led there. OPTIONS replaces that default
# (OPTIONS --locations --strict adds strict mode; OPTIONS alone passes no option). WARN adds
# --warn: the tool's checks print warnings in the build log and the build goes on; STRICT adds
# --strict: a check's finding fails the build.
#
# The tool writes a dependency file next to the output (<out>.d, through the XMLPP_DEPFILE
# environment variable) that lists the input and every file it included, and the command's DEPFILE
# points at it: editing any included file regenerates the output, with the Ninja and the Makefile
# generators alike. Every path handed to the tool is absolute, so the dependency file holds only
# absolute paths and means the same whichever directory a generator reads it against.
#
# Use the output like any generated file, for example:
#   add_custom_target(board_config ALL DEPENDS ${CMAKE_CURRENT_BINARY_DIR}/board.xml)

# Commands defined here keep the policies set here: with CMP0116 the Ninja generator rewrites the
# dependency file's paths for the build tree before Ninja reads it, as the Makefile generators do.
cmake_policy(PUSH)
cmake_policy(SET CMP0116 NEW)

function(xmlpp_preprocess)
  cmake_parse_arguments(PARSE_ARGV 0 arg "WARN;STRICT" "OUTPUT;INPUT;MACROS;DOCTYPE" "OPTIONS")
  if(arg_UNPARSED_ARGUMENTS)
    message(FATAL_ERROR "xmlpp_preprocess: unexpected arguments: ${arg_UNPARSED_ARGUMENTS}")
  endif()
  if(NOT arg_OUTPUT OR NOT arg_INPUT)
    message(FATAL_ERROR "xmlpp_preprocess: OUTPUT and INPUT are required")
  endif()

  cmake_path(ABSOLUTE_PATH arg_INPUT BASE_DIRECTORY "${CMAKE_CURRENT_SOURCE_DIR}" NORMALIZE
    OUTPUT_VARIABLE input)
  cmake_path(ABSOLUTE_PATH arg_OUTPUT BASE_DIRECTORY "${CMAKE_CURRENT_BINARY_DIR}" NORMALIZE
    OUTPUT_VARIABLE output)
  set(depfile "${output}.d")
  cmake_path(GET output PARENT_PATH output_dir)
  file(MAKE_DIRECTORY "${output_dir}")

  if(NOT DEFINED arg_OPTIONS AND NOT "OPTIONS" IN_LIST arg_KEYWORDS_MISSING_VALUES)
    set(arg_OPTIONS --locations)
  endif()
  if(arg_WARN AND arg_STRICT)
    message(FATAL_ERROR "xmlpp_preprocess: WARN and STRICT exclude each other")
  elseif(arg_WARN)
    list(APPEND arg_OPTIONS --warn)
  elseif(arg_STRICT)
    list(APPEND arg_OPTIONS --strict)
  endif()

  # The macro list is always passed, as one quoted argument (an empty list means no macros), so
  # that its ";" never splits it; a DOCTYPE follows it as the fourth argument.
  set(tool "${CMAKE_COMMAND}" -E env "XMLPP_DEPFILE=${depfile}" "$<TARGET_FILE:xmlpp::xmlpp>"
    ${arg_OPTIONS} "${input}" "${output}")
  set(options
    DEPENDS "${input}" xmlpp::xmlpp
    DEPFILE "${depfile}"
    COMMENT "Preprocessing ${arg_INPUT}"
    VERBATIM)
  if(DEFINED arg_DOCTYPE)
    add_custom_command(OUTPUT "${output}" COMMAND ${tool} "${arg_MACROS}" "${arg_DOCTYPE}" ${options})
  else()
    add_custom_command(OUTPUT "${output}" COMMAND ${tool} "${arg_MACROS}" ${options})
  endif()
endfunction()

cmake_policy(POP)
