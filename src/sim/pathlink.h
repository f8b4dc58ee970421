#pragma once
// A stable name for the virtual meter's pseudo-terminal: a symbolic link that a program
// (or its settings) can keep naming while the pty's own number changes from run to run.
#include <string>

namespace sim {

/// Owns one symbolic link `linkPath` -> `target` and removes it when destroyed (or on
/// remove()), but only while it still leads to `target`: a meter started later that took
/// the same name keeps its link.
class PathLink {
 public:
  enum class Result { Ok, Occupied, Failed };

  PathLink() = default;
  ~PathLink() { remove(); }
  PathLink(const PathLink&) = delete;
  PathLink& operator=(const PathLink&) = delete;

  /// Makes `linkPath` lead to `target`. A symbolic link already there is replaced in one
  /// step (rename), so that name never dangles; anything else there is left alone and
  /// gives Occupied. Failed for other errors (no such folder, no permission). `error`
  /// says what happened in both cases.
  Result create(const std::string& linkPath, const std::string& target, std::string& error);
  /// Removes the link if it still leads to the target. Safe to call twice.
  void remove();

 private:
  std::string m_path;
  std::string m_target;
};

}  // namespace sim
