#pragma once
// Temporary folders and whole-file helpers: plain C++, so the tests of the Qt-free layers
// (measure, files) use them without linking Qt.
#include <string>
#include <vector>

namespace testsupport {

/// A fresh temporary folder, removed when the object goes away.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return m_path; }
  std::string file(const std::string& name) const { return m_path + "/" + name; }

 private:
  std::string m_path;
};

/// The complete lines in `bytes` (each ended by LF; a CR before the LF dropped).
/// A last piece without LF is left out.
std::vector<std::string> splitLines(const std::string& bytes);

/// An example file shipped with the program: examples/NAME in the source tree.
std::string example(const std::string& name);

/// Whole file as bytes ("" when missing).
std::string readFile(const std::string& path);
void writeFile(const std::string& path, const std::string& bytes);

}  // namespace testsupport
