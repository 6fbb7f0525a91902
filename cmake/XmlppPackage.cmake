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
set(CPACK_PACKAGE_CONTACT "xmlpp developers" CACHE STRING
  "The Maintainer field of the Debian package")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# The Debian revision: the package's version is <version>-<revision>.
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_PACKAGE_SECTION devel)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
include(CPack)
