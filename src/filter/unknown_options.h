// Rule options that the parser does not recognise: how the parser tells of
// them (RuleNotes), and the process-wide record through which an engine
// without a note sink reports each on standard output once per process,
// however many rules or engines use it.
#ifndef TESSUL_FILTER_UNKNOWN_OPTIONS_H_
#define TESSUL_FILTER_UNKNOWN_OPTIONS_H_

#include <mutex>
#include <set>
#include <string>
#include <string_view>

namespace tessul {

// Receives what the line parser has to say about the rule it parses.
class RuleNotes {
 public:
  // An option that no keyword names, as written but without its '~'. The
  // rule gets OptUnknown, so the engine drops it.
  virtual void unknownOption(std::string_view option) = 0;
  // A regex rule that compatible mode cannot compile, with RegexProgram's
  // reason; the rule gets OptUnknown.
  virtual void refusedRegex(std::string_view /*reason*/) {}

 protected:
  ~RuleNotes() = default;
};

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
