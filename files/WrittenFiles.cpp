#include "files/WrittenFiles.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include "files/InputFile.h"

namespace {

Diagnostic clashOf(const std::string& path, std::string_view first, std::string_view second) {
  return Diagnostic::failure("xmlpp: " + path + " is both " + std::string(first) + " and " +
                             std::string(second));
}

}  // namespace

Diagnostic WrittenFiles::clash(const std::string& path, std::string_view first,
                               std::string_view second) const {
  clashed_ = true;
  return clashOf(path, first, second);
}

std::string_view WrittenFiles::roleName(WrittenRole role) {
  switch (role) {
    case WrittenRole::DependencyFile:
      return "the dependency file";
    case WrittenRole::Output:
      return "the output";
    case WrittenRole::Graph:
      return "the graph";
    case WrittenRole::TraceFile:
      return "the trace file";
    case WrittenRole::SarifLog:
      break;
  }
  return "the SARIF log";
}

Failure WrittenFiles::declare(WrittenRole role, const std::string& path) {
  Member& member = members_[index(role)];
  member.declared = true;
  member.path = path;
  if (role == WrittenRole::Output && path == "-") {
    struct stat info {};
    if (::fstat(STDOUT_FILENO, &info) == 0) standardOutput_ = FileIdentity::of(info);
    for (const WrittenRole earlier : order_) {
      const Member& other = members_[index(earlier)];
      if (other.identity && other.identity == standardOutput_) {
        return clash(other.path, "standard output", roleName(earlier));
      }
    }
  } else {
    member.identity = outputIdentity(path);
    if (member.identity && member.identity == standardOutput_) {
      return clash(path, "standard output", roleName(role));
    }
    for (const WrittenRole earlier : order_) {
      const Member& other = members_[index(earlier)];
      if (member.identity && member.identity == other.identity) {
        return clash(path, roleName(std::min(earlier, role)), roleName(std::max(earlier, role)));
      }
    }
  }
  order_.push_back(role);
  return std::nullopt;
}

Failure WrittenFiles::open(WrittenRole role) {
  Member& member = members_[index(role)];
  if (member.file.openTemporary(member.path)) return std::nullopt;
  member.file.discard();
  struct stat info {};
  if (::stat(member.path.c_str(), &info) == 0 && !S_ISREG(info.st_mode) && !S_ISDIR(info.st_mode)) {
    return std::nullopt;
  }
  Failure failure = member.file.open(member.path);
  if (failure) member.file.discard();
  return failure;
}

Failure WrittenFiles::checkRead(std::string_view readRole, const std::string& path) const {
  // Only a regular file is lost by being written over (a terminal can be both standard input and
  // standard output).
  struct stat info {};
  const int status = path == "-" ? ::fstat(STDIN_FILENO, &info) : ::stat(path.c_str(), &info);
  if (status != 0 || !S_ISREG(info.st_mode)) return std::nullopt;
  const FileIdentity identity = FileIdentity::of(info);
  for (const WrittenRole role : order_) {
    if (role == WrittenRole::Output && readRole == "the input") continue;
    if (members_[index(role)].identity == identity) return clash(path, readRole, roleName(role));
  }
  if (identity == standardOutput_) return clash(path, readRole, "standard output");
  return std::nullopt;
}

Failure WrittenFiles::replace(bool succeeded) {
  if (clashed_) return std::nullopt;
  Failure failure;
  if (succeeded) {
    // The output only after its dependency file: a run ended between the two leaves an older
    // output, which the next build redoes.
    failure = replaceInOrder({&file(WrittenRole::DependencyFile), &file(WrittenRole::Graph),
                              &file(WrittenRole::Output)});
  }
  for (const WrittenRole report : {WrittenRole::TraceFile, WrittenRole::SarifLog}) {
    Failure replaced = file(report).replace();
    if (replaced && !failure) failure = std::move(replaced);
  }
  return failure;
}
