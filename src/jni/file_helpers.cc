#include "jni/file_helpers.h"

#include <cerrno>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <stdexcept>

namespace tessul {
namespace {

constexpr char kReadError[] = "File read error: ";
constexpr char kWriteError[] = "File write error: ";

[[noreturn]] void throwFileError(const char* prefix, int error) {
  throw std::runtime_error(prefix + std::to_string(error));
}

// Reads errno at once, before anything else can change it.
[[noreturn]] void throwFileError(const char* prefix) {
  throwFileError(prefix, errno);
}

}  // namespace

std::string getFileContents(const char* path) {
  std::ifstream in(path);
  if (!in) throwFileError(kReadError);
  std::string text;
  char chunk[16 * 1024];
  while (in.read(chunk, sizeof chunk) || in.gcount() > 0) {
    text.append(chunk, static_cast<size_t>(in.gcount()));
  }
  // End of file sets eofbit and failbit; only a failed read sets badbit.
  if (in.bad()) throwFileError(kReadError);
  return text;
}

std::vector<char> getFileContent(const char* path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throwFileError(kReadError);
  // The size of a regular file only: a directory opens like a file, and the
  // end position its stream reports means nothing.
  std::error_code error;
  const std::uintmax_t size = std::filesystem::file_size(path, error);
  if (error) throwFileError(kReadError, error.value());
  std::vector<char> content;
  // Where size_t is narrower than file sizes, a size beyond it must not wrap.
  if (size > content.max_size()) throwFileError(kReadError, EFBIG);
  content.resize(static_cast<size_t>(size));
  if (!in.read(content.data(), static_cast<std::streamsize>(size))) {
    throwFileError(kReadError);
  }
  return content;
}

void writeFile(const char* path, const char* data, int size) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) throwFileError(kWriteError);
  out.write(data, size);
  // Buffered bytes reach the disk only here, so a full disk shows up here.
  out.close();
  if (!out) throwFileError(kWriteError);
}

}  // namespace tessul
