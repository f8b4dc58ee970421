// The true floor of a raw-file conversion: read the file in large blocks and find every
// line end with memchr. Nothing is copied, framed, decoded or written.
//   bench_memchr FILE   prints the number of LF-ended lines and their characters (CR LF excluded)
#include <cstdio>
#include <cstring>
#include <vector>

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fputs("usage: bench_memchr FILE\n", stderr);
    return 2;
  }
  std::FILE* file = std::fopen(argv[1], "rb");
  if (file == nullptr) {
    std::perror(argv[1]);
    return 1;
  }
  std::vector<char> block(1 << 20);
  long lines = 0;
  size_t characters = 0;  // of the complete lines, without CR LF
  size_t pending = 0;     // characters since the last LF, across blocks
  bool pendingCr = false; // the last character before the block's end was a CR
  for (;;) {
    const size_t got = std::fread(block.data(), 1, block.size(), file);
    if (got == 0) break;
    const char* at = block.data();
    const char* const end = at + got;
    while (at < end) {
      const char* lf = static_cast<const char*>(std::memchr(at, '\n', static_cast<size_t>(end - at)));
      if (lf == nullptr) {
        pending += static_cast<size_t>(end - at);
        pendingCr = end[-1] == '\r';
        break;
      }
      size_t length = pending + static_cast<size_t>(lf - at);
      const bool cr = lf > at ? lf[-1] == '\r' : pendingCr;
      if (cr && length > 0) --length;
      characters += length;
      ++lines;
      pending = 0;
      pendingCr = false;
      at = lf + 1;
    }
  }
  const bool failed = std::ferror(file) != 0;
  std::fclose(file);
  if (failed) {
    std::perror(argv[1]);
    return 1;
  }
  std::printf("%ld lines (%zu characters)\n", lines, characters);
  return 0;
}
