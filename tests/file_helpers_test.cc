#include "jni/file_helpers.h"

#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace tessul {
namespace {

// A fresh directory per test, removed with its files afterwards.
class FileHelpersTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/tessul-files-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
  }
  void TearDown() override {
    for (const std::string& file : created_) unlink(file.c_str());
    rmdir(dir_.c_str());
  }

  std::string path(const std::string& name) {
    created_.push_back(dir_ + "/" + name);
    return created_.back();
  }

  std::string fileWith(const std::string& name, const std::string& bytes) {
    std::string file = path(name);
    std::ofstream(file, std::ios::binary) << bytes;
    return file;
  }

  std::string dir_;

 private:
  std::vector<std::string> created_;
};

// The message of the runtime_error that `operation` throws.
template <typename Operation>
std::string failureOf(Operation operation) {
  try {
    operation();
  } catch (const std::runtime_error& e) {
    return e.what();
  }
  return "no failure";
}

TEST_F(FileHelpersTest, ReadsWholeFiles) {
  const std::string text = "||ads.example^\n@@||ads.example/ok/\r\n";
  const std::string file = fileWith("list.txt", text);
  EXPECT_EQ(getFileContents(file.c_str()), text);
  EXPECT_EQ(getFileContent(file.c_str()),
            std::vector<char>(text.begin(), text.end()));
}

TEST_F(FileHelpersTest, ZeroBytesAreReadInFull) {
  const std::string bytes("ab\0cd\0\0", 7);
  const std::string file = fileWith("image.dat", bytes);
  EXPECT_EQ(getFileContent(file.c_str()),
            std::vector<char>(bytes.begin(), bytes.end()));
  EXPECT_EQ(getFileContents(file.c_str()), bytes);
}

TEST_F(FileHelpersTest, LargeFilesAreReadInFull) {
  std::string text;
  for (int i = 0; text.size() < 100000; ++i) text += std::to_string(i) + "\n";
  const std::string file = fileWith("large.txt", text);
  EXPECT_EQ(getFileContents(file.c_str()), text);
  EXPECT_EQ(getFileContent(file.c_str()).size(), text.size());
}

TEST_F(FileHelpersTest, EmptyFiles) {
  const std::string file = fileWith("empty", "");
  EXPECT_EQ(getFileContents(file.c_str()), "");
  EXPECT_TRUE(getFileContent(file.c_str()).empty());

  const std::string full = fileWith("full", "old content");
  writeFile(full.c_str(), "", 0);
  EXPECT_EQ(getFileContents(full.c_str()), "");
}

TEST_F(FileHelpersTest, WritingReplacesTheWholeFile) {
  const std::string file = path("image.dat");
  writeFile(file.c_str(), "a longer first content", 22);
  writeFile(file.c_str(), "sh\0rt", 5);
  EXPECT_EQ(getFileContents(file.c_str()), std::string("sh\0rt", 5));
}

TEST_F(FileHelpersTest, MissingFilesReportErrno) {
  const std::string missing = dir_ + "/missing";
  EXPECT_EQ(failureOf([&] { getFileContents(missing.c_str()); }),
            "File read error: 2");
  EXPECT_EQ(failureOf([&] { getFileContent(missing.c_str()); }),
            "File read error: 2");
  const std::string inMissingDir = dir_ + "/no/such/dir/image.dat";
  EXPECT_EQ(failureOf([&] { writeFile(inMissingDir.c_str(), "x", 1); }),
            "File write error: 2");
}

// A directory opens like a file but cannot be read, nor written as one.
TEST_F(FileHelpersTest, DirectoriesAreNoFiles) {
  EXPECT_EQ(failureOf([&] { getFileContents(dir_.c_str()); }),
            "File read error: 21");
  EXPECT_EQ(failureOf([&] { getFileContent(dir_.c_str()); }),
            "File read error: 21");
  EXPECT_EQ(failureOf([&] { writeFile(dir_.c_str(), "x", 1); }),
            "File write error: 21");
}

// A full disk shows up only when the buffered bytes are flushed.
TEST_F(FileHelpersTest, FullDiskFailsTheWrite) {
  if (access("/dev/full", W_OK) != 0) GTEST_SKIP() << "needs /dev/full";
  EXPECT_EQ(failureOf([] { writeFile("/dev/full", "image", 5); }),
            "File write error: 28");
}

}  // namespace
}  // namespace tessul
