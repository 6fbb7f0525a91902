#pragma once

// The include and definition directives: <include>, <define>, <xmldef> and <xmlput>. An include
// loads a file into the document; its root takes the directive's place and its content is
// walked in a scope of its own. The fragments of xmldef are kept for the whole walk (the
// registry has no scopes), and each xmlput walks a fresh copy of one.

#include <map>
#include <string>
#include <unordered_set>
#include <vector>

#include "DirectiveChecks.h"
#include "WalkScope.h"
#include "files/WrittenFiles.h"
#include "xmlpp/Directives.h"

class IncludeDefinitions {
 public:
  // Each file read is added to `loadedFiles` the first time; an include not found beside the
  // including file is looked up in `includeDirs`, in order.
  // An included file that is one of the files the run writes (`written`) fails the run.
  IncludeDefinitions(WalkScope& scope, std::vector<std::string>& loadedFiles,
                     const std::vector<std::string>& includeDirs, const WrittenFiles* written)
      : scope_(scope), loadedFiles_(loadedFiles), includeDirs_(includeDirs), written_(written) {}

  // Decides for the step's element, a directive of this group.
  Decision decide(DirectiveId directive, Step& step);
  // The path kept for the whole walk, for contexts and fragments to point at; a path met for the
  // first time is also a loaded file.
  const std::string* keptPath(const std::string& path);
  // The engine put an include's root in the directive's place and opened the scope of its
  // content (frame `frame`, of the file `file`): the include's macros attribute defines its
  // macros there, and the root's own values (and kept text) are expanded in it.
  Failure entered(const Step& step, XMLElement* root, std::size_t frame, const std::string* file);
  // The walk is done with the content of `root`, included by `directive`: the attributes the
  // include passes on are copied, and true comes back when the root is unwrapped (its children
  // take its place). `hasParent`: the include is not the document's root element, which cannot
  // be unwrapped.
  Expected<bool> finished(XMLElement* root, const XMLElement* directive, bool hasParent,
                          std::size_t frame);

 private:
  // A fragment registered by <xmldef>: the element (detached from the tree, in the document's
  // arena) and the file it was written in.
  struct Fragment {
    const XMLElement* element;
    const std::string* file;
  };
  // Where an include's file is: beside the including file, else in the first include folder
  // that has it (`includeDir`); `lookedAt` lists the folders' paths tried in vain.
  struct Found {
    std::string path;
    const std::string* includeDir;
    std::string lookedAt;
  };
  Found find(const std::string& name, const WalkContext& context) const;
  Decision include(Step& step);
  // The checks of an included file just loaded, and its failure (`loadFailure`, or one that
  // holds no element), located inside it and then at the include.
  Failure loadChecks(const Step& step, const Found& found, Failure loadFailure);
  Decision define(Step& step);
  Decision xmldef(Step& step);
  Decision xmlput(Step& step);
  // Whether an include of `path` finds a file: the document's file source has a text for it, or
  // it names a file.
  bool readable(const std::string& path) const;
  // The first of the include folders DIR where "DIR/name" names a file, or null; `lookedAt` gets
  // each path tried, separated by ", ".
  const std::string* searchIncludeDirs(const std::string& name, std::string& lookedAt) const;
  // Checks the values an included root is written with: its own (`own`), and those it inherits
  // from the include element (whose unresolved references are the step's).
  Failure checkWrittenRoot(const Step& step, const XMLElement* root, std::size_t frame,
                           const std::vector<Unresolved>& own) const;
  // Copies the include element's attributes named by its "inherit_attributes" onto the included
  // root, in list order; an attribute the root has keeps its place and takes the new value.
  void inheritAttributes(XMLElement* root, const XMLElement* directive);
  [[gnu::noinline]] void tellDefine(const Step& step, std::string_view name,
                                    std::string_view attribute, bool set,
                                    const MacroOrigin& origin);

  WalkScope& scope_;
  std::vector<std::string>& loadedFiles_;
  const std::vector<std::string>& includeDirs_;
  const WrittenFiles* written_;
  std::map<std::string, Fragment, std::less<>> fragments_;
  std::unordered_set<std::string> paths_;  // the files read, each once
};
