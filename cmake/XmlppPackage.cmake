# The Debian package (CPack's DEB generator): what the install rules put under the prefix, with
# /usr as the prefix, so that the packaged tool's $(ZuruvaDez) is /usr.
#
#   make package        configures build-tool (Release, the tool only), builds it and runs cpack
#   apt install ./build-tool/xmlpp_<version>-<revision>_<architecture>.deb
#
# With SOURCE_DATE_EPOCH set, CPack dates every file of the package at that time, so two builds
# of the same tree give the same bytes.
#
# The package's dependencies are the shared libraries the executable links, as dpkg-shlibdeps
# (package dpkg-dev) finds them.

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
  "XML preprocessor: conditionals, includes, macros and loops")
# The extended description, one line per line of the control file.
string(JOIN "\n" CPACK_PACKAGE_DESCRIPTION
  "xmlpp reads one XML file, carries out the directives embedded in it"
  "(conditionals, include of other XML files, macro definitions, named fragments"
  "and loops), expands $(name) macro references in attribute values and writes"
  "the result in a fixed, indented layout. The package holds the tool, its manual"
  "page and documentation, the examples and the CMake package (find_package(xmlpp)"
  "and xmlpp_preprocess()).")
# Who maintains the package and who holds the copyright, set here only: the Maintainer field, the
# changelog's trailer and the copyright file's Upstream-Contact and Copyright fields all take them
# from these. Override at configure time (make package XMLPP_MAINTAINER="Name <address>").
set(XMLPP_MAINTAINER "xmlpp maintainers <maintainers@xmlpp.invalid>" CACHE STRING
  "Maintainer of the Debian package, as \"Name <address>\"")
set(XMLPP_COPYRIGHT "2026 the xmlpp developers" CACHE STRING
  "Copyright years and holders, as the package's copyright file states them")
set(CPACK_PACKAGE_CONTACT "${XMLPP_MAINTAINER}")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# The Debian revision: the package's version is <version>-<revision>.
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_PACKAGE_SECTION devel)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)

# The Debian copyright file (machine-readable format), changelog and lintian overrides (each one
# justified there), from packaging/debian/. They describe the package, so only the package holds
# them (CPack adds the folder below to what the install rules put under /usr); `make install`
# leaves them out. The changelog carries a fixed date and is compressed with gzip -n (no name, no
# time), so its bytes depend on its text alone.
set(XMLPP_DEBIAN_VERSION "${PROJECT_VERSION}-${CPACK_DEBIAN_PACKAGE_RELEASE}")
set(xmlpp_debian_doc "${PROJECT_BINARY_DIR}/debian-doc")
configure_file(${PROJECT_SOURCE_DIR}/packaging/debian/copyright.in
  ${xmlpp_debian_doc}/usr/share/doc/xmlpp/copyright @ONLY)
configure_file(${PROJECT_SOURCE_DIR}/packaging/debian/changelog.in
  ${PROJECT_BINARY_DIR}/debian-changelog/changelog.Debian @ONLY)
add_custom_command(OUTPUT ${xmlpp_debian_doc}/usr/share/doc/xmlpp/changelog.Debian.gz
  COMMAND ${XMLPP_GZIP} -9 -n -c ${PROJECT_BINARY_DIR}/debian-changelog/changelog.Debian
    > ${xmlpp_debian_doc}/usr/share/doc/xmlpp/changelog.Debian.gz
  DEPENDS ${PROJECT_BINARY_DIR}/debian-changelog/changelog.Debian
  COMMENT "Compressing the Debian changelog")
add_custom_target(xmlpp_debian_changelog ALL
  DEPENDS ${xmlpp_debian_doc}/usr/share/doc/xmlpp/changelog.Debian.gz)
configure_file(${PROJECT_SOURCE_DIR}/packaging/debian/lintian-overrides
  ${xmlpp_debian_doc}/usr/share/lintian/overrides/xmlpp COPYONLY)
set(CPACK_INSTALLED_DIRECTORIES "${xmlpp_debian_doc};/")
include(CPack)
