// Whole-file transfers between the file system and memory, for the Java
// bridge: filter lists are read as text, engine images are read and written
// as bytes.
//
// Every failure throws std::runtime_error whose message is "File read error: "
// or "File write error: " followed by the decimal errno of the failure, so a
// missing file gives "File read error: 2" on Linux. Nothing is logged here;
// the caller decides what to do with the message.
#ifndef TESSUL_JNI_FILE_HELPERS_H_
#define TESSUL_JNI_FILE_HELPERS_H_

#include <string>
#include <vector>

namespace tessul {

// The whole content of a text file. Throws when the file cannot be opened or
// a read fails part-way (a directory, for instance).
std::string getFileContents(const char* path);

// The whole content of a regular file, byte for byte, without a terminator.
// Throws when the file cannot be opened, is no regular file, or does not
// deliver all of its bytes.
std::vector<char> getFileContent(const char* path);

// Replaces the content of the file at `path` (creating it) with the `size`
// bytes at `data`. Throws when the file cannot be opened, written or closed,
// so that a full disk is not mistaken for a saved file.
void writeFile(const char* path, const char* data, int size);

}  // namespace tessul

#endif  // TESSUL_JNI_FILE_HELPERS_H_
