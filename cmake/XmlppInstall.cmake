# Installed layout, the CMake package and the tests that use them.
#
#   <prefix>/bin/xmlpp                       the tool ($(ZuruvaDez) is <prefix>)
#   <prefix>/share/man/man1/xmlpp.1.gz       the manual page, compressed
#   <prefix>/share/xmlpp/examples/           the examples
#   <prefix>/share/doc/xmlpp/                README.md, ARCHITECTURE.md, docs/*.md and examples (a
#                                            link to ../../xmlpp/examples)
#   <prefix>/lib/cmake/xmlpp/                the package: find_package(xmlpp CONFIG) gives the
#                                            imported executable xmlpp::xmlpp and xmlpp_preprocess()

include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(XMLPP_INSTALL_CMAKEDIR "lib/cmake/xmlpp" CACHE STRING
  "Where the CMake package files are installed, relative to the prefix")

install(TARGETS xmlpp EXPORT xmlppTargets RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# The manual page is installed compressed, as man reads it and Debian wants it; gzip -n stores
# no name or time, so the bytes depend on the text alone.
find_program(XMLPP_GZIP gzip REQUIRED)
set(xmlpp_man ${PROJECT_BINARY_DIR}/man/xmlpp.1)
add_custom_command(OUTPUT ${xmlpp_man}.gz
  COMMAND ${CMAKE_COMMAND} -E copy ${PROJECT_SOURCE_DIR}/docs/xmlpp.1 ${xmlpp_man}
  COMMAND ${XMLPP_GZIP} -9 -n -f ${xmlpp_man}
  DEPENDS ${PROJECT_SOURCE_DIR}/docs/xmlpp.1
  COMMENT "Compressing the manual page"
  VERBATIM)
add_custom_target(xmlpp_man_page ALL DEPENDS ${xmlpp_man}.gz)
install(FILES ${xmlpp_man}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/examples/
  DESTINATION ${CMAKE_INSTALL_DATADIR}/xmlpp/examples)
# The documentation keeps the source tree's layout, so that the README's links (ARCHITECTURE.md,
# docs/..., examples/...) resolve in the installed copy: docs/ beside it, and examples a relative
# link to the installed examples (where the documented $(ZuruvaDez) includes find them).
install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/ARCHITECTURE.md
  DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(DIRECTORY ${PROJECT_SOURCE_DIR}/docs/ DESTINATION ${CMAKE_INSTALL_DOCDIR}/docs
  FILES_MATCHING PATTERN "*.md" PATTERN "*.svg")
cmake_path(RELATIVE_PATH CMAKE_INSTALL_DATADIR BASE_DIRECTORY ${CMAKE_INSTALL_DOCDIR}
  OUTPUT_VARIABLE xmlpp_doc_to_data)
file(MAKE_DIRECTORY ${PROJECT_BINARY_DIR}/doc-links)
file(CREATE_LINK ${xmlpp_doc_to_data}/xmlpp/examples ${PROJECT_BINARY_DIR}/doc-links/examples
  SYMBOLIC)
install(FILES ${PROJECT_BINARY_DIR}/doc-links/examples DESTINATION ${CMAKE_INSTALL_DOCDIR})

install(EXPORT xmlppTargets
  NAMESPACE xmlpp::
  FILE xmlppTargets.cmake
  DESTINATION ${XMLPP_INSTALL_CMAKEDIR})
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/xmlppConfig.cmake.in
  ${PROJECT_BINARY_DIR}/xmlppConfig.cmake
  INSTALL_DESTINATION ${XMLPP_INSTALL_CMAKEDIR}
  NO_SET_AND_CHECK_MACRO
  NO_CHECK_REQUIRED_COMPONENTS_MACRO)
# The package holds only an executable, so any architecture may use it.
write_basic_package_version_file(${PROJECT_BINARY_DIR}/xmlppConfigVersion.cmake
  VERSION ${PROJECT_VERSION}
  COMPATIBILITY SameMajorVersion
  ARCH_INDEPENDENT)
install(FILES
  ${PROJECT_BINARY_DIR}/xmlppConfig.cmake
  ${PROJECT_BINARY_DIR}/xmlppConfigVersion.cmake
  ${CMAKE_CURRENT_LIST_DIR}/xmlppPreprocess.cmake
  DESTINATION ${XMLPP_INSTALL_CMAKEDIR})

if(BUILD_TESTING AND NOT XMLPP_SANITIZE)
  # A script of tests/install/ run against this build tree.
  function(add_install_test name script)
    add_test(NAME ${name}
      COMMAND ${CMAKE_COMMAND} -E env
        "CMAKE_COMMAND=${CMAKE_COMMAND}"
        "XMLPP_BUILD_DIR=${PROJECT_BINARY_DIR}"
        bash ${PROJECT_SOURCE_DIR}/tests/install/${script})
    set_tests_properties(${name} PROPERTIES TIMEOUT 120)
  endfunction()
  # Installs into a temporary prefix and builds examples/cmake with Ninja and with Makefiles.
  add_install_test(install_and_cmake_package run.sh)
  # make install with DESTDIR and PREFIX, from this build tree.
  add_install_test(make_install make_install.sh)
  # Builds examples/meson with Meson; skipped where meson is not installed.
  add_install_test(meson_example meson.sh)
  set_tests_properties(meson_example PROPERTIES SKIP_RETURN_CODE 77)
  # Builds the Debian package from this tree (cmake/XmlppPackage.cmake), lists and unpacks it,
  # and runs the packaged tool and CMake package from the unpacked copy.
  add_install_test(debian_package package.sh)
  # Two cpack runs and lintian take longer than the others on a busy machine.
  set_tests_properties(debian_package PROPERTIES TIMEOUT 300)
  # The manual page renders without warnings and describes what --help lists.
  add_test(NAME man_page_renders
    COMMAND bash ${PROJECT_SOURCE_DIR}/tests/install/man.sh ${PROJECT_SOURCE_DIR}/docs/xmlpp.1
      $<TARGET_FILE:xmlpp>)
endif()
