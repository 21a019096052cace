// Helpers shared by the engine image tests.
#ifndef TESSUL_TESTS_IMAGE_TEST_SUPPORT_H_
#define TESSUL_TESTS_IMAGE_TEST_SUPPORT_H_

#include <cstring>
#include <memory>
#include <string>

#include "engine/tessul_client.h"

namespace tessul {
namespace testing {

// The engine's image as a string.
inline std::string savedImage(TessulClient& engine,
                              bool omitElementHideRules = false,
                              bool omitHtmlRules = false) {
  int size = 0;
  std::unique_ptr<char[]> image(
      engine.serialize(&size, omitElementHideRules, omitHtmlRules));
  return std::string(image.get(), size);
}

// A heap copy of exactly `length` bytes, so that AddressSanitizer reports
// any read past its end.
class ExactCopy {
 public:
  ExactCopy(const char* bytes, size_t length)
      : bytes_(new char[length]), length_(length) {
    if (length > 0) memcpy(bytes_.get(), bytes, length);
  }
  explicit ExactCopy(const std::string& bytes)
      : ExactCopy(bytes.data(), bytes.size()) {}

  char* data() const { return bytes_.get(); }
  size_t size() const { return length_; }

 private:
  std::unique_ptr<char[]> bytes_;
  size_t length_;
};

}  // namespace testing
}  // namespace tessul

#endif  // TESSUL_TESTS_IMAGE_TEST_SUPPORT_H_
