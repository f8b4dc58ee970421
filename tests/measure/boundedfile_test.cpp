// Whole-file reading with a size limit: endless and oversized inputs are refused after
// limit + 1 bytes, never read to their end.
#include "measure/boundedfile.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>

#include "support/testfiles.h"

using namespace measure;

namespace {

TEST(BoundedFile, RefusesWhatIsOverTheLimitAndReadsWhatIsNot) {
  testsupport::TempDir dir;
  testsupport::writeFile(dir.file("limit"), std::string(kInputFileLimit, 'a'));
  testsupport::writeFile(dir.file("over"), std::string(kInputFileLimit + 1, 'a'));
  const testsupport::EndlessFifo endless(dir.file("endless"));
  ASSERT_EQ(::mkfifo(dir.file("silent").c_str(), 0600), 0);
  struct Case {
    std::string path;
    FileRead read;
    size_t size;
    std::string error;
  };
  const std::string tooLarge = ": larger than the limit of 1 MiB (1048576 bytes)";
  const Case cases[] = {
      {dir.file("limit"), FileRead::Done, kInputFileLimit, ""},
      {dir.file("over"), FileRead::TooLarge, 0, dir.file("over") + tooLarge},
      {"/dev/zero", FileRead::TooLarge, 0, "/dev/zero" + tooLarge},
      {dir.file("endless"), FileRead::TooLarge, 0, dir.file("endless") + tooLarge},
      {dir.file("silent"), FileRead::Done, 0, ""},  // no writer: empty, not waited for
      {dir.file("none"), FileRead::NotOpened, 0, dir.file("none") + ": cannot open: No such file or directory"},
      {dir.path(), FileRead::NotOpened, 0, dir.path() + ": cannot open: is a directory"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    std::string text = "old", error;
    EXPECT_EQ(readBoundedFile(c.path, text, error), c.read);
    EXPECT_EQ(text.size(), c.size);
    EXPECT_EQ(error, c.error);
  }
}

}  // namespace
