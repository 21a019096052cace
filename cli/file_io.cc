#include "cli/file_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "cli/cli_error.h"

namespace tessul {
namespace cli {

void throwFileError(const char* verb, const char* what,
                    const std::string& path) {
  const std::string reason = strerror(errno);
  if (path == "-") {
    const bool reading = strcmp(verb, "read") == 0;
    throw Failure(
        std::string("cannot ") + verb + " " + what +
        (reading ? " from standard input: " : " to standard output: ") +
        reason);
  }
  throw Failure(std::string("cannot ") + verb + " " + what + " " + path + ": " +
                reason);
}

namespace {

bool readAll(int fd, std::string* content) {
  char buffer[1 << 16];
  for (;;) {
    const ssize_t count = ::read(fd, buffer, sizeof buffer);
    if (count == 0) return true;
    if (count < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    content->append(buffer, static_cast<size_t>(count));
  }
}

bool isRegularFileOrMissing(const std::string& path) {
  struct stat status;
  if (::stat(path.c_str(), &status) != 0) return errno == ENOENT;
  return S_ISREG(status.st_mode);
}

void writeDirectly(const std::string& path, const char* what, const char* data,
                   size_t size) {
  if (path == "-") {
    if (!writeAll(STDOUT_FILENO, data, size)) {
      throwFileError("write", what, path);
    }
    return;
  }
  FileDescriptor file(
      ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
  if (!file.valid() || !writeAll(file.get(), data, size) || !file.close()) {
    throwFileError("write", what, path);
  }
}

void writeByRename(const std::string& path, const char* what, const char* data,
                   size_t size) {
  const std::string temporary =
      path + ".tmp-" + std::to_string(static_cast<long>(::getpid()));
  FileDescriptor file(
      ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
  // Without room for a file beside it (a directory we may not write in),
  // the file is written in place; that also tells the true reason when it
  // cannot be written at all.
  if (!file.valid()) {
    writeDirectly(path, what, data, size);
    return;
  }
  if (!writeAll(file.get(), data, size) || !file.close() ||
      ::rename(temporary.c_str(), path.c_str()) != 0) {
    const int error = errno;
    ::unlink(temporary.c_str());
    errno = error;
    throwFileError("write", what, path);
  }
}

}  // namespace

std::string readWholeFile(const std::string& path, const char* what) {
  std::string content;
  if (path == "-") {
    if (!readAll(STDIN_FILENO, &content)) throwFileError("read", what, path);
    return content;
  }
  FileDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!file.valid() || !readAll(file.get(), &content)) {
    throwFileError("read", what, path);
  }
  return content;
}

void writeWholeFile(const std::string& path, const char* what, const char* data,
                    size_t size) {
  if (path != "-" && isRegularFileOrMissing(path)) {
    writeByRename(path, what, data, size);
  } else {
    writeDirectly(path, what, data, size);
  }
}

bool writeAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    const ssize_t count = ::write(fd, data, size);
    if (count < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += count;
    size -= static_cast<size_t>(count);
  }
  return true;
}

}  // namespace cli
}  // namespace tessul
