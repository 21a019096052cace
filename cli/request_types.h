// The request types as people read them: each type keyword with what it
// stands for, in one table that `tessul check --help` prints and the
// README repeats.
#ifndef TESSUL_CLI_REQUEST_TYPES_H_
#define TESSUL_CLI_REQUEST_TYPES_H_

#include <cstddef>
#include <string>

namespace tessul {
namespace cli {

// One line per request type, in the order of requestTypeKeywords(): the
// keyword, padded to a column, and its meaning; each line indented by
// `indent` spaces.
std::string requestTypeTable(size_t indent);

}  // namespace cli
}  // namespace tessul

#endif  // TESSUL_CLI_REQUEST_TYPES_H_
