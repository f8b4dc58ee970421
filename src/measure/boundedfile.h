#pragma once
// Reading a whole input file (a configuration, a device file, a secret) with a size limit,
// so that a huge file, /dev/zero or a pipe that never ends is refused at once instead of
// filling the memory.
#include <cstddef>
#include <cstdio>
#include <string>

namespace measure {

/// The limit for every file the programs read whole: 1 MiB.
inline constexpr size_t kInputFileLimit = size_t{1} << 20;

enum class FileRead { Done, NotOpened, Failed, TooLarge };

/// Reads `path` into `text` when it holds at most `limit` bytes; it reads limit + 1 bytes at
/// most, whatever the file is (device, pipe, FIFO: a FIFO without a writer reads as empty
/// instead of waiting for one). Anything but Done leaves `text` empty and `error` set, one
/// line naming the file: "PATH: cannot open: No such file or directory",
/// "PATH: cannot read: …" or "PATH: larger than the limit of 1 MiB (1048576 bytes)".
FileRead readBoundedFile(const std::string& path, std::string& text, std::string& error,
                         size_t limit = kInputFileLimit);

/// The same for an open stream, from where it stands; `name` goes into `error`.
FileRead readBoundedStream(std::FILE* file, const std::string& name, std::string& text, std::string& error,
                           size_t limit = kInputFileLimit);

/// The cause alone in an error of readBoundedFile() ("No such file or directory").
std::string readErrorCause(const std::string& error);

/// "1 MiB (1048576 bytes)": how messages name a limit.
std::string limitText(size_t limit);

}  // namespace measure
