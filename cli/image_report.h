// What `tessul info` tells about an engine image: its size, whether the
// engine loads it (and if not, which check it fails), how many rules it
// holds of each kind and in all, then the values of its header by name and
// the size of each section. Sections are measured with the engine's own
// bounded record readers, so a damaged image is described up to its damage,
// never read past.
#ifndef TESSUL_CLI_IMAGE_REPORT_H_
#define TESSUL_CLI_IMAGE_REPORT_H_

#include <string>

namespace tessul {
namespace cli {

struct ImageReport {
  std::string text;  // the report, several lines
  bool loads = false;
  std::string failure;  // why it does not load
};

// Describes the image bytes; `name` is how the report names the image.
ImageReport describeImage(const std::string& name, const std::string& image);

}  // namespace cli
}  // namespace tessul

#endif  // TESSUL_CLI_IMAGE_REPORT_H_
