#pragma once
// Temporary folders and whole-file helpers: plain C++, so the tests of the Qt-free layers
// (measure, files) use them without linking Qt.
#include <cstddef>
#include <string>
#include <string_view>
#include <thread>
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

/// `text` as the name of a parameterised test case: each run of characters other than
/// ASCII letters and digits becomes one '_', with none left at either end; "empty" when
/// nothing else is left. testNameOf("CHL=3 0.5 10") is "CHL_3_0_5_10".
inline std::string testNameOf(std::string_view text) {
  std::string name;
  bool gap = false;
  for (const char c : text) {
    const bool keep = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
    if (!keep) {
      gap = true;
      continue;
    }
    if (gap && !name.empty()) name += '_';
    gap = false;
    name += c;
  }
  return name.empty() ? "empty" : name;
}

/// The same with "_<index>" appended, for a table whose texts repeat once cleaned.
inline std::string testNameOf(std::string_view text, std::size_t index) {
  return testNameOf(text) + "_" + std::to_string(index);
}

/// A FIFO at `path` (made here) whose writer writes until its reader goes: an input that
/// never ends. Reading it is optional: the writer also ends when nobody opened it.
class EndlessFifo {
 public:
  explicit EndlessFifo(std::string path);
  ~EndlessFifo();
  EndlessFifo(const EndlessFifo&) = delete;
  EndlessFifo& operator=(const EndlessFifo&) = delete;

 private:
  std::string m_path;
  std::thread m_writer;
};

}  // namespace testsupport
