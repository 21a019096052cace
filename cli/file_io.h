// Whole-file reading and writing for the program, with errors that name
// the file and the reason. "-" stands for standard input or output.
#ifndef TESSUL_CLI_FILE_IO_H_
#define TESSUL_CLI_FILE_IO_H_

#include <unistd.h>

#include <cstddef>
#include <string>

namespace tessul {
namespace cli {

// Closes a file descriptor that this program opened.
class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  ~FileDescriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;

  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  // Closes now, so that a failing close (a late write error) is seen.
  bool close() {
    const int fd = fd_;
    fd_ = -1;
    return ::close(fd) == 0;
  }

 private:
  int fd_;
};

// Throws Failure for the errno of a failed read or write: "cannot VERB
// WHAT PATH: reason", or "... from standard input" / "to standard output"
// for "-".
[[noreturn]] void throwFileError(const char* verb, const char* what,
                                 const std::string& path);

// The whole content of the file at `path` ("-": standard input), byte for
// byte. `what` names the file's role in the error message ("list",
// "image", ...). Throws Failure when it cannot be read in full.
std::string readWholeFile(const std::string& path, const char* what);

// Writes `size` bytes to `path` ("-": standard output). A regular file is
// written under a temporary name beside it and renamed into place, so it
// is replaced only by a complete file; other files (devices, pipes), and
// files in a directory that takes no new file, are written directly.
// Throws Failure naming the file and the reason.
void writeWholeFile(const std::string& path, const char* what, const char* data,
                    size_t size);

// Writes all `size` bytes to the descriptor; false with errno set when
// that fails.
bool writeAll(int fd, const char* data, size_t size);

}  // namespace cli
}  // namespace tessul

#endif  // TESSUL_CLI_FILE_IO_H_
