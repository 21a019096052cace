// The process-wide record of rule options that the parser did not
// recognise. Each is reported once per process on standard output, however
// many rules or engines use it.
#ifndef TESSUL_FILTER_UNKNOWN_OPTIONS_H_
#define TESSUL_FILTER_UNKNOWN_OPTIONS_H_

#include <mutex>
#include <set>
#include <string>

namespace tessul {

// Thread-safe: engines on different threads may parse at the same time.
class UnknownOptionSet {
 public:
  // Records `option`; the first time, writes "Unrecognized filter option: "
  // and the option as one line to standard output. Returns whether the
  // option was new.
  bool report(const std::string& option);
  bool contains(const std::string& option) const;

 private:
  mutable std::mutex mutex_;
  std::set<std::string> options_;
};

extern UnknownOptionSet unknownOptions;

}  // namespace tessul

#endif  // TESSUL_FILTER_UNKNOWN_OPTIONS_H_
