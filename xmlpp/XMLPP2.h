#pragma once

#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "xml/XMLDocument.h"

// The preprocessor's document: the tree plus the registry of named fragments ("xmldef") and the
// hook through which every preprocessing failure is reported.
class XMLPP2 : public QXMLDocument {
 public:
  using QXMLDocument::QXMLDocument;

  // Fragments registered by "xmldef", by name; the elements are detached from the tree.
  std::map<std::string, XMLElement*, std::less<>> xmlDefinitions;
  // Every file loaded during the run, once each, in first-load order.
  std::vector<std::string> loadedFiles;

  // Reports a preprocessing failure. The tool's document prints it and ends the process; the walk
  // is written so that it could go on if this returned.
  virtual void reportError(const std::string& message) = 0;
};
