// Regex rules of filter lists (the text between the slashes of `/.../`),
// compiled once into a small automaton of our own and searched in time
// linear in the text's length, whatever the pattern. Lists are third-party
// input, and one rule such as /(a+)+b/ makes a backtracking matcher run for
// longer than any request may wait.
#ifndef TESSUL_FILTER_REGEX_PROGRAM_H_
#define TESSUL_FILTER_REGEX_PROGRAM_H_

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tessul {

// A regular expression in the subset of JavaScript's syntax that filter lists
// use:
//   - literal characters, and `]` `{` `}` where they cannot mean anything
//     else;
//   - escapes: `\` before any ASCII character that is neither a letter nor a
//     digit stands for that character (`\.` `\/` `\?` `\-` ...); `\t` `\n`
//     `\r` `\v` `\f`; `\0` (not before a digit); `\xHH` and `\uHHHH` below
//     0x80;
//   - `.` (any byte but line feed and carriage return); `\d` `\D` `\w` `\W`
//     `\s` `\S`; classes `[...]` with ranges, `^` negation and the escapes
//     above (`\b` is a backspace there);
//   - groups `( )` and `(?: )`; alternation `|`;
//   - quantifiers `*` `+` `?` `{m}` `{m,}` `{m,n}` and their lazy forms
//     (`*?` ...), which answer the same for a yes/no search;
//   - anchors `^` and `$` (start and end of the text: no multiline mode) and
//     the word boundaries `\b` `\B`.
// compile() refuses anything else, with a reason.
//
// Texts are bytes. ASCII letters match either case unless `matchCase`; no
// other byte has a case. Bytes of 0x80 and above are not characters of their
// own: `.`, `\D` `\W` `\S` and negated classes match each such byte, and
// patterns may not contain any.
//
// Size: counted repetition writes its operand out ({3} three copies, {2,5}
// five), and the whole program is bounded by kMaxInstructions. A search costs
// at most a few steps per instruction and text byte.
//
// Threads: a program is immutable once compiled. search() keeps its scratch
// (under 10 KB, sized by kMaxInstructions) on the caller's stack, so any
// number of threads may search one program at once.
class RegexProgram {
 public:
  static constexpr int kMaxInstructions = 4096;
  // Groups inside groups, bounded so that compiling a hostile pattern cannot
  // exhaust the stack.
  static constexpr int kMaxNesting = 64;

  // A program that matches nothing.
  RegexProgram();

  // Compiles the `length` bytes at `pattern` (a regex rule's body, without
  // its slashes; need not be NUL-terminated). On success, replaces *program
  // and returns true. Otherwise leaves *program unchanged, points *refusal at
  // a static message that says why, and returns false:
  //   "look-around is not supported"        (?= (?! (?<= (?<!
  //   "back-references are not supported"   \1 to \9, \k
  //   "named groups are not supported"      (?<name>
  //   "unsupported group syntax"            any other (?
  //   "unbalanced parenthesis"
  //   "unterminated character class"
  //   "character class range out of order"  [z-a]
  //   "nothing to repeat"                   a quantifier after nothing, an
  //                                         anchor, \b, \B or a quantifier
  //   "quantifier range out of order"       {3,2}
  //   "unsupported escape"                  \ before a letter or digit not
  //                                         listed above (\p \c \8 \01 ...)
  //   "incomplete escape"                   \x or \u without its hex digits
  //   "trailing backslash"
  //   "non-ASCII characters are not supported"
  //   "pattern too large"                   more than kMaxInstructions
  //   "pattern nests too deeply"            more than kMaxNesting groups
  //   "invalid pattern length"              a negative length
  // The empty pattern matches every text.
  static bool compile(const char* pattern, int length, bool matchCase,
                      RegexProgram* program, const char** refusal);

  // Whether the pattern matches somewhere in the `length` bytes at `text`
  // (which need not be NUL-terminated; null when length is 0). Time
  // O(length x instructionCount()); no heap allocation. A negative length
  // answers false.
  bool search(const char* text, int length) const;

  // A literal that every match contains: at most 16 bytes, letters in lower
  // case unless the program matches case, *length 0 when none is known.
  // search() already answers texts without it at once; a caller may also
  // use it to file the rule where only texts that hold it look.
  const char* requiredLiteral(int* length) const {
    *length = requiredLength_;
    return required_;
  }

  // Every literal known to be in every match, none a piece of another:
  // requiredLiteral() first (when there is one), at most
  // kMaxRequiredLiterals, each as requiredLiteral() gives it. That one is
  // the longest; a caller that knows its texts may find another one rarer
  // in them (every URL holds "http"). `index` from 0 to
  // requiredLiteralCount() - 1.
  static constexpr int kMaxRequiredLiterals = 8;
  int requiredLiteralCount() const {
    return (requiredLength_ > 0 ? 1 : 0) + otherRequiredCount_;
  }
  const char* requiredLiteral(int index, int* length) const {
    if (requiredLength_ > 0 && index-- == 0) return requiredLiteral(length);
    *length = otherRequired_[index].length;
    return otherRequired_[index].bytes;
  }

  int instructionCount() const { return static_cast<int>(code_.size()); }
  // Heap bytes the program holds, besides the object itself.
  size_t heapBytes() const;

 private:
  class Compiler;
  class Search;

  // A set of byte values.
  struct ByteSet {
    uint64_t words[4] = {0, 0, 0, 0};

    bool has(unsigned char byte) const {
      return (words[byte >> 6] >> (byte & 63)) & 1;
    }
    void add(unsigned char byte) {
      words[byte >> 6] |= uint64_t{1} << (byte & 63);
    }
    bool operator==(const ByteSet& other) const;
  };

  enum class Op : uint8_t {
    // The two that consume a byte come first.
    kByte,             // consumes `byte` or `otherCase`
    kClass,            // consumes a byte of classes_[operand]
    kSplit,            // goes on at both the next instruction and the target
    kJump,             // goes on at the target
    kTextStart,        // ^
    kTextEnd,          // $
    kWordBoundary,     // \b
    kNotWordBoundary,  // \B
    kMatch,
  };

  // Targets are relative (target = own index + operand), so a piece of the
  // program can be moved or copied as it is.
  struct Instruction {
    Op op;
    unsigned char byte;
    unsigned char otherCase;  // the other case of a letter, else `byte`
    int16_t operand;          // kClass: class index; kSplit, kJump: target
  };

  // Calls reach(target) for each instruction that `instruction`, at `pc`,
  // goes on to without consuming: both of a split, the target of a jump, the
  // next one after an assertion when holds(op). Not for kByte, kClass and
  // kMatch.
  template <typename Holds, typename Reach>
  static void forEachSuccessor(const Instruction& instruction, int pc,
                               Holds holds, Reach reach);
  // For kByte and kClass instructions.
  bool accepts(const Instruction& instruction, unsigned char byte) const;
  bool containsRequired(const unsigned char* text, int length) const;

  // Every match contains this literal (letters in lower case unless
  // matchCase_), so texts without it are answered without running the
  // automaton. Bounded, to keep that test linear too.
  static constexpr int kMaxRequiredLength = 16;

  struct Literal {
    char bytes[kMaxRequiredLength];
    uint8_t length;
  };

  std::vector<Instruction> code_;
  std::vector<ByteSet> classes_;
  ByteSet firstBytes_;  // bytes a match can start with, when skipsAhead_
  char required_[kMaxRequiredLength] = {};
  uint8_t requiredLength_ = 0;
  uint8_t requiredAnchor_ = 0;  // index of the byte searched for first
  Literal otherRequired_[kMaxRequiredLiterals - 1] = {};
  uint8_t otherRequiredCount_ = 0;
  bool matchCase_ = false;
  bool anchoredAtStart_ = false;  // every match starts at the text's start
  bool skipsAhead_ = false;       // every match consumes a byte of firstBytes_
};

}  // namespace tessul

#endif  // TESSUL_FILTER_REGEX_PROGRAM_H_
