# The playground's WebAssembly module: the tool's own sources (every module and driver/main.cpp)
# compiled by Debian's emscripten into one JavaScript file, which a browser's Web Worker and Node
# load alike (-sSINGLE_FILE): ${PROJECT_BINARY_DIR}/playground/xmlpp.js. The page
# (docs/playground/) runs the tool's main() in it, with the files in emscripten's in-memory file
# system, so what a run reads and writes stays in memory and every byte is the command line's.
# Built with the tests (not under the sanitizers) when emcc is found; each source is compiled on its own, so a change rebuilds what it
# touches (the headers it reads are tracked through depfiles).
find_program(XMLPP_EMCC emcc)
if(NOT XMLPP_EMCC)
  return()
endif()

set(xmlpp_wasm_dir ${PROJECT_BINARY_DIR}/playground)
# emcc must not see /usr/include (the host's C library); nlohmann-json is header-only, so its own
# folder is given through a link.
get_target_property(json_include nlohmann_json::nlohmann_json INTERFACE_INCLUDE_DIRECTORIES)
list(GET json_include 0 json_include)
file(MAKE_DIRECTORY ${xmlpp_wasm_dir}/include)
file(CREATE_LINK ${json_include}/nlohmann ${xmlpp_wasm_dir}/include/nlohmann SYMBOLIC)
# Debian's emcc finds its JavaScript dependencies (node-acorn) through NODE_PATH.
set(xmlpp_emcc ${CMAKE_COMMAND} -E env NODE_PATH=/usr/share/nodejs ${XMLPP_EMCC})
set(xmlpp_wasm_flags -std=c++20 -O2 -fexceptions -I${PROJECT_SOURCE_DIR}
  -I${xmlpp_wasm_dir}/include -DXMLPP_VERSION="${PROJECT_VERSION}")

set(xmlpp_wasm_objects)
foreach(target xmlpp_files xmlpp_expr xmlpp_macros xmlpp_xml xmlpp_pp xmlpp_lsp xmlpp_driver_lib
    xmlpp)
  get_target_property(sources ${target} SOURCES)
  get_target_property(folder ${target} SOURCE_DIR)
  foreach(source ${sources})
    if(NOT source MATCHES "\\.cpp$")
      continue()
    endif()
    cmake_path(ABSOLUTE_PATH source BASE_DIRECTORY ${folder})
    cmake_path(RELATIVE_PATH source BASE_DIRECTORY ${PROJECT_SOURCE_DIR} OUTPUT_VARIABLE name)
    string(REPLACE "/" "_" name ${name})
    set(object ${xmlpp_wasm_dir}/objects/${name}.o)
    add_custom_command(OUTPUT ${object}
      COMMAND ${xmlpp_emcc} ${xmlpp_wasm_flags} -MD -MF ${object}.d -c ${source} -o ${object}
      DEPENDS ${source}
      DEPFILE ${object}.d
      COMMENT "Compiling ${name} to WebAssembly"
      VERBATIM)
    list(APPEND xmlpp_wasm_objects ${object})
  endforeach()
endforeach()

add_custom_command(OUTPUT ${xmlpp_wasm_dir}/xmlpp.js
  COMMAND ${xmlpp_emcc} -O2 -fexceptions ${xmlpp_wasm_objects} -o ${xmlpp_wasm_dir}/xmlpp.js
    -sSINGLE_FILE=1 -sMODULARIZE=1 -sEXPORT_NAME=createXmlpp -sINVOKE_RUN=0 -sEXIT_RUNTIME=0
    -sALLOW_MEMORY_GROWTH=1 -sFORCE_FILESYSTEM=1 -sENVIRONMENT=web,worker,node
    -sEXPORTED_RUNTIME_METHODS=FS,callMain,ENV
  DEPENDS ${xmlpp_wasm_objects}
  COMMENT "Linking the playground's WebAssembly module"
  VERBATIM)
add_custom_target(xmlpp_wasm ALL DEPENDS ${xmlpp_wasm_dir}/xmlpp.js)
