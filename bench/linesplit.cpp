// The I/O floor of a raw-file conversion: read a file and frame it into lines exactly
// as a replay does (reads of at most 98 characters, then the receive loop's line
// assembly), without decoding or converting anything.
//   bench_linesplit FILE               prints the number of lines
//   bench_linesplit --generate N FILE  writes N data lines matching bench/bench.dev
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "files/replayreader.h"
#include "link/lineassembler.h"

namespace {

// Small deterministic generator: the same file on every run and machine.
struct Lcg {
  unsigned long long state = 0x2545F4914F6CDD1DULL;
  unsigned next() {
    state = state * 6364136223846793005ULL + 1442695040888963407ULL;
    return static_cast<unsigned>(state >> 33);
  }
  int around(int centre, int spread) {
    return centre + static_cast<int>(next() % static_cast<unsigned>(2 * spread + 1)) - spread;
  }
};

void appendInt(std::string& out, int value, int width = 0) {
  char digits[16];
  const auto result = std::to_chars(digits, digits + sizeof digits, value);
  for (int pad = width - static_cast<int>(result.ptr - digits); pad > 0; --pad) out += '0';
  out.append(digits, result.ptr);
}

// Date, time, three reference/signal pairs, chlorophyll and internal temperature, CR LF.
int generate(long lines, const char* path) {
  std::FILE* file = std::fopen(path, "wb");
  if (file == nullptr) {
    std::perror(path);
    return 1;
  }
  Lcg rng;
  std::string chunk;
  chunk.reserve(1 << 20);
  const long startSeconds = 10L * 3600 + 21 * 60;
  for (long i = 0; i < lines; ++i) {
    const long t = startSeconds + i;
    const int day = 1 + static_cast<int>((t / 86400) % 28);
    appendInt(chunk, 5, 2);
    chunk += '/';
    appendInt(chunk, day, 2);
    chunk += "/24\t";
    appendInt(chunk, static_cast<int>(t / 3600 % 24), 2);
    chunk += ':';
    appendInt(chunk, static_cast<int>(t / 60 % 60), 2);
    chunk += ':';
    appendInt(chunk, static_cast<int>(t % 60), 2);
    const int references[3] = {4130, 4096, 4211};
    const int signals[3] = {1180, 1320, 985};
    for (int c = 0; c < 3; ++c) {
      chunk += '\t';
      appendInt(chunk, rng.around(references[c], 2));
      chunk += '\t';
      appendInt(chunk, rng.around(signals[c], 40));
    }
    chunk += '\t';
    appendInt(chunk, rng.around(1050, 60));
    chunk += '\t';
    appendInt(chunk, rng.around(560, 1));
    chunk += "\r\n";
    if (chunk.size() > (1 << 20) - 256) {
      std::fwrite(chunk.data(), 1, chunk.size(), file);
      chunk.clear();
    }
  }
  std::fwrite(chunk.data(), 1, chunk.size(), file);
  const bool ok = std::fclose(file) == 0;
  if (!ok) std::perror(path);
  return ok ? 0 : 1;
}

int split(const char* path) {
  files::ReplayReader reader;
  if (!reader.open(path)) {
    std::perror(path);
    return 1;
  }
  long lines = 0;
  size_t characters = 0;
  meterlink::LineAssembler assembler;
  assembler.setSinks(
      [&](std::string_view line) {
        ++lines;
        characters += line.size();
      },
      nullptr);
  // The receive loop's read buffer; a replay read fills at most 98 characters of it.
  std::vector<char> buffer(1000);
  int idle = 0;
  for (;;) {
    size_t length = 100;
    const files::ReplayReader::Read read = reader.ReadReplayLine(buffer.data(), length);
    if (read == files::ReplayReader::Read::Rewound) break;
    // A read error (not the end) would give nothing for ever.
    idle = length == 0 ? idle + 1 : 0;
    if (idle >= 3) break;
    assembler.feed(buffer.data(), length);
  }
  std::printf("%ld lines (%zu characters)\n", lines, characters);
  return 0;
}

void usage() {
  std::fputs("usage: bench_linesplit FILE\n       bench_linesplit --generate N FILE\n", stderr);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::strcmp(argv[1], "--generate") == 0) {
    char* end = nullptr;
    const long lines = std::strtol(argv[2], &end, 10);
    if (end == argv[2] || *end != '\0' || lines < 0) {
      usage();
      return 2;
    }
    return generate(lines, argv[3]);
  }
  if (argc == 2) return split(argv[1]);
  usage();
  return 2;
}
