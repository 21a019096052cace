// The two ways a run of the tessul program can fail. main() turns each into
// a message on standard error and its exit status.
#ifndef TESSUL_CLI_CLI_ERROR_H_
#define TESSUL_CLI_CLI_ERROR_H_

#include <stdexcept>
#include <string>

namespace tessul {
namespace cli {

// The command line is wrong: exit status 2, with the command's usage line.
class UsageError : public std::runtime_error {
 public:
  UsageError(const std::string& message, const std::string& usageLine)
      : std::runtime_error(message), usageLine_(usageLine) {}

  const std::string& usageLine() const { return usageLine_; }

 private:
  std::string usageLine_;
};

// The command line is fine but the work cannot be done (a file is missing,
// an image is damaged, output cannot be written): exit status 1.
class Failure : public std::runtime_error {
 public:
  explicit Failure(const std::string& message) : std::runtime_error(message) {}
};

}  // namespace cli
}  // namespace tessul

#endif  // TESSUL_CLI_CLI_ERROR_H_
