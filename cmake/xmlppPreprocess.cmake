# xmlpp_preprocess(OUTPUT <out> INPUT <in> [MACROS <macro list>] [DOCTYPE <name>]
#                  [MACROS_FILE <file>] [INCLUDE_DIRS <dir>...] [DEFINES <name[=value]>...]
#                  [WARN | STRICT] [OPTIONS <option>...])
#
# Adds a custom command that runs xmlpp::xmlpp on <in> and writes <out>. A relative INPUT,
# MACROS_FILE or INCLUDE_DIRS folder is taken from the current source directory, a relative OUTPUT
# is put in the current binary directory. The macro list is handed to the tool as one argument
# ("A=1;B=2"); DOCTYPE adds <!DOCTYPE name>. MACROS_FILE is passed as --macros-file, each folder
# of INCLUDE_DIRS as -I (includes not found beside their file are looked up there, in order) and
# each item of DEFINES as -D; the macros apply in the order MACROS, MACROS_FILE, DEFINES, a later
# one replacing an earlier one. A value that holds ";" goes in MACROS or the macros file, since
# CMake splits a DEFINES item there.
#
# The tool's options are --diagnostics=gnu unless OPTIONS gives others: a failure or warning in a
# build log then reads FILE:LINE:COL: error|warning: MESSAGE, as a compiler's does, which IDEs'
# problem matchers pick up, with a note for each include that led there. OPTIONS replaces that
# default (OPTIONS --diagnostics=gnu --utf8 adds an option; OPTIONS alone passes no option). WARN
# adds --warn: every check prints warnings in the build log and the build goes on; STRICT adds
# --strict: a check's finding fails the build (for CI). Each output is logged by its own name.
#
# The tool writes a dependency file next to the output (<out>.d, named with -MF) that lists the
# input, every file it included and the macros file, and the command's DEPFILE points at it:
# editing any of them regenerates the output, with the Ninja and the Makefile generators alike.
# Every path handed to the tool is absolute, so the dependency file holds only absolute paths and
# means the same whichever directory a generator reads it against.
#
# With the Makefile generators, CMake merges each dependency file into the target's
# CMakeFiles/<target>.dir/compiler_depend.make and never drops a name: after an included file is
# deleted, every build runs the tool again until that file and compiler_depend.internal are
# removed and CMake is run again (README: Use it from CMake).
#
# Every call also records its command in the command database
# <CMAKE_BINARY_DIR>/xmlpp_commands.json, written when CMake generates the build system: a JSON
# array with one object per output, {"directory": where the command runs, "file": the input,
# "output": the output, "arguments": ["xmlpp", every argument the tool gets]}, all paths
# absolute. The language server (xmlpp --lsp) reads it to run an opened file with the macros and
# options its build uses.
#
# Use the output like any generated file, for example:
#   add_custom_target(board_config ALL DEPENDS ${CMAKE_CURRENT_BINARY_DIR}/board.xml)

# Commands defined here keep the policies set here: with CMP0116 the Ninja generator rewrites the
# dependency file's paths for the build tree before Ninja reads it, as the Makefile generators do.
cmake_policy(PUSH)
cmake_policy(SET CMP0116 NEW)

# The text as a JSON string: quotes, backslashes and the common control characters escaped.
function(_xmlpp_json_string out text)
  string(REPLACE "\\" "\\\\" text "${text}")
  string(REPLACE "\"" "\\\"" text "${text}")
  string(REPLACE "\n" "\\n" text "${text}")
  string(REPLACE "\r" "\\r" text "${text}")
  string(REPLACE "\t" "\\t" text "${text}")
  set(${out} "\"${text}\"" PARENT_SCOPE)
endfunction()

# Adds the object of one command to the command database: <arguments_var> names the list of the
# tool's arguments up to the input, <macros_var> and <doctype_var> the variables holding the last
# two (kept apart, since a macro list holds ";"; the doctype's may be undefined).
function(_xmlpp_record_command input output arguments_var macros_var doctype_var)
  set(json "\"xmlpp\"")
  foreach(argument IN LISTS ${arguments_var})
    _xmlpp_json_string(quoted "${argument}")
    string(APPEND json ", ${quoted}")
  endforeach()
  _xmlpp_json_string(quoted "${${macros_var}}")
  string(APPEND json ", ${quoted}")
  if(DEFINED ${doctype_var})
    _xmlpp_json_string(quoted "${${doctype_var}}")
    string(APPEND json ", ${quoted}")
  endif()
  _xmlpp_json_string(directory "${CMAKE_CURRENT_BINARY_DIR}")
  _xmlpp_json_string(input "${input}")
  _xmlpp_json_string(output "${output}")
  set(entry "{\"directory\": ${directory}, \"file\": ${input}, \"output\": ${output}, ")
  string(APPEND entry "\"arguments\": [${json}]}")
  string(JSON type ERROR_VARIABLE error TYPE "${entry}")
  if(error)
    message(FATAL_ERROR "xmlpp_preprocess: cannot record ${output} as JSON: ${error}")
  endif()
  get_property(entries GLOBAL PROPERTY XMLPP_COMMANDS)
  if(entries)
    set_property(GLOBAL APPEND_STRING PROPERTY XMLPP_COMMANDS ",\n  ${entry}")
  else()
    set_property(GLOBAL PROPERTY XMLPP_COMMANDS "  ${entry}")
  endif()
endfunction()

# Writes the command database once every directory has been read (a call deferred to the end of
# the top-level directory); file(GENERATE) evaluates generator expressions as the commands do.
function(_xmlpp_write_commands)
  get_property(entries GLOBAL PROPERTY XMLPP_COMMANDS)
  if(entries)
    set(entries "\n${entries}\n")
  endif()
  file(GENERATE OUTPUT "${CMAKE_BINARY_DIR}/xmlpp_commands.json" CONTENT "[${entries}]\n")
endfunction()

get_property(xmlpp_commands_deferred GLOBAL PROPERTY XMLPP_COMMANDS_DEFERRED)
if(NOT xmlpp_commands_deferred)
  set_property(GLOBAL PROPERTY XMLPP_COMMANDS_DEFERRED TRUE)
  cmake_language(DEFER DIRECTORY "${CMAKE_SOURCE_DIR}" CALL _xmlpp_write_commands)
endif()
unset(xmlpp_commands_deferred)

function(xmlpp_preprocess)
  cmake_parse_arguments(PARSE_ARGV 0 arg "WARN;STRICT" "OUTPUT;INPUT;MACROS;DOCTYPE;MACROS_FILE"
    "OPTIONS;INCLUDE_DIRS;DEFINES")
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
    set(arg_OPTIONS --diagnostics=gnu)
  endif()
  set(depends "${input}" xmlpp::xmlpp)
  if(DEFINED arg_MACROS_FILE)
    cmake_path(ABSOLUTE_PATH arg_MACROS_FILE BASE_DIRECTORY "${CMAKE_CURRENT_SOURCE_DIR}"
      NORMALIZE OUTPUT_VARIABLE macros_file)
    list(APPEND arg_OPTIONS --macros-file "${macros_file}")
    list(APPEND depends "${macros_file}")
  endif()
  foreach(dir IN LISTS arg_INCLUDE_DIRS)
    cmake_path(ABSOLUTE_PATH dir BASE_DIRECTORY "${CMAKE_CURRENT_SOURCE_DIR}" NORMALIZE)
    list(APPEND arg_OPTIONS -I "${dir}")
  endforeach()
  foreach(define IN LISTS arg_DEFINES)
    list(APPEND arg_OPTIONS -D "${define}")
  endforeach()
  if(arg_WARN AND arg_STRICT)
    message(FATAL_ERROR "xmlpp_preprocess: WARN and STRICT exclude each other")
  elseif(arg_WARN)
    list(APPEND arg_OPTIONS --warn)
  elseif(arg_STRICT)
    list(APPEND arg_OPTIONS --strict)
  endif()

  # After "--" every argument is positional: the input, then the macro list, always passed as
  # one quoted argument (an empty list means no macros) so that its ";" never splits it, and a
  # DOCTYPE after it.
  set(arguments ${arg_OPTIONS} -MF "${depfile}" -o "${output}" -- "${input}")
  set(tool "$<TARGET_FILE:xmlpp::xmlpp>" ${arguments})
  _xmlpp_record_command("${input}" "${output}" arguments arg_MACROS arg_DOCTYPE)
  set(options
    DEPENDS ${depends}
    DEPFILE "${depfile}"
    COMMENT "Preprocessing ${arg_INPUT} into ${arg_OUTPUT}"
    VERBATIM)
  if(DEFINED arg_DOCTYPE)
    add_custom_command(OUTPUT "${output}" COMMAND ${tool} "${arg_MACROS}" "${arg_DOCTYPE}" ${options})
  else()
    add_custom_command(OUTPUT "${output}" COMMAND ${tool} "${arg_MACROS}" ${options})
  endif()
endfunction()

cmake_policy(POP)
