#include "filter/regex_program.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <utility>

namespace tessul {
namespace {

constexpr int kWords = (RegexProgram::kMaxInstructions + 63) / 64;
// Counts in {m,n} stop growing here: anything larger is too large anyway.
constexpr int kCountLimit = RegexProgram::kMaxInstructions + 1;

bool isAsciiLetter(unsigned char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
bool isDigit(unsigned char c) { return c >= '0' && c <= '9'; }
bool isWordByte(unsigned char c) {
  return isAsciiLetter(c) || isDigit(c) || c == '_';
}
// JavaScript's white space, as far as it is ASCII.
bool isSpaceByte(unsigned char c) {
  return c == ' ' || (c >= '\t' && c <= '\r');
}
unsigned char otherCase(unsigned char c) {
  return isAsciiLetter(c) ? static_cast<unsigned char>(c ^ 0x20) : c;
}
unsigned char lowerCase(unsigned char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c | 0x20) : c;
}
int hexValue(unsigned char c) {
  if (isDigit(c)) return c - '0';
  c = lowerCase(c);
  return (c >= 'a' && c <= 'f') ? c - 'a' + 10 : -1;
}

// What every text that a piece of the pattern matches is known to hold, so
// that search() can reject texts without a literal that every match needs.
// Letters are in lower case unless case matters. Every string is bounded by
// kMaxRequired: a part of a prefix, suffix or required literal is one too.
struct Literals {
  static constexpr size_t kMaxRequired = 16;
  static constexpr size_t kMaxOthers = RegexProgram::kMaxRequiredLiterals - 1;

  bool exact = true;     // the piece matches `whole` and nothing else
  std::string whole;     // when exact; then prefix, suffix, required too
  std::string prefix;    // every match starts with it
  std::string suffix;    // every match ends with it
  std::string required;  // every match contains it
  // Other literals that every match contains, none empty: one piece's
  // required literal need not be the rarest.
  std::vector<std::string> others;

  static Literals ofByte(unsigned char c) {
    Literals literals;
    literals.setWhole(std::string(1, static_cast<char>(c)));
    return literals;
  }
  static Literals unknown() {
    Literals literals;
    literals.exact = false;
    return literals;
  }

  void setWhole(std::string text) {
    whole = prefix = suffix = required = std::move(text);
    others.clear();
  }
  void takeLonger(const std::string& candidate) {
    if (candidate.size() > required.size()) required = candidate;
  }
  // Keeps `candidate` among the others unless the required literal or one
  // of them holds it; those it holds give way. Past kMaxOthers the first
  // ones stay.
  void keepOther(const std::string& candidate) {
    auto holds = [&candidate](const std::string& text) {
      return text.find(candidate) != std::string::npos;
    };
    if (candidate.empty() || holds(required) ||
        std::any_of(others.begin(), others.end(), holds)) {
      return;
    }
    others.erase(std::remove_if(others.begin(), others.end(),
                                [&candidate](const std::string& other) {
                                  return candidate.find(other) !=
                                         std::string::npos;
                                }),
                 others.end());
    if (others.size() < kMaxOthers) others.push_back(candidate);
  }
  // Drops the others that the required literal holds.
  void pruneOthers() {
    others.erase(std::remove_if(others.begin(), others.end(),
                                [this](const std::string& other) {
                                  return required.find(other) !=
                                         std::string::npos;
                                }),
                 others.end());
  }

  static std::string front(const std::string& text) {
    return text.substr(0, kMaxRequired);
  }
  static std::string back(const std::string& text) {
    return text.size() <= kMaxRequired
               ? text
               : text.substr(text.size() - kMaxRequired);
  }

  // A match of `first` followed by a match of `second`.
  static Literals sequence(const Literals& first, const Literals& second) {
    Literals both;
    if (first.exact && second.exact &&
        first.whole.size() + second.whole.size() <= kMaxRequired) {
      both.setWhole(first.whole + second.whole);
      return both;
    }
    both.exact = false;
    both.prefix =
        first.exact ? front(first.whole + second.prefix) : first.prefix;
    both.suffix =
        second.exact ? back(first.suffix + second.whole) : second.suffix;
    both.required = first.required;
    const std::string junction = front(first.suffix + second.prefix);
    both.takeLonger(junction);
    both.takeLonger(second.required);
    for (const Literals* piece : {&first, &second}) {
      both.keepOther(piece->required);
      for (const std::string& other : piece->others) both.keepOther(other);
    }
    both.keepOther(junction);
    both.pruneOthers();
    return both;
  }

  // A match of either.
  static Literals either(const Literals& one, const Literals& other) {
    if (one.exact && other.exact && one.whole == other.whole) return one;
    Literals any = unknown();
    size_t n = 0;
    while (n < one.prefix.size() && n < other.prefix.size() &&
           one.prefix[n] == other.prefix[n]) {
      ++n;
    }
    any.prefix = one.prefix.substr(0, n);
    n = 0;
    while (n < one.suffix.size() && n < other.suffix.size() &&
           one.suffix[one.suffix.size() - 1 - n] ==
               other.suffix[other.suffix.size() - 1 - n]) {
      ++n;
    }
    any.suffix = one.suffix.substr(one.suffix.size() - n);
    if (one.required == other.required) any.required = one.required;
    any.takeLonger(any.prefix);
    any.takeLonger(any.suffix);
    return any;
  }

  // `min` to `max` matches of `piece` in a row; max -1 for no bound. Every
  // match of the repetition is `min` matches of the piece and more.
  static Literals repeated(const Literals& piece, int min, int max) {
    if (max == 0) return Literals();
    if (min == 0) return unknown();
    Literals all = piece;
    // Beyond kMaxRequired copies no string grows any further.
    for (int i = 1; i < min && i <= static_cast<int>(kMaxRequired); ++i) {
      all = sequence(all, piece);
    }
    if (max != min) all.exact = false;
    return all;
  }
};

}  // namespace

bool RegexProgram::ByteSet::operator==(const ByteSet& other) const {
  return std::equal(words, words + 4, other.words);
}

template <typename Holds, typename Reach>
void RegexProgram::forEachSuccessor(const Instruction& instruction, int pc,
                                    Holds holds, Reach reach) {
  switch (instruction.op) {
    case Op::kSplit:
      reach(pc + 1);
      reach(pc + instruction.operand);
      break;
    case Op::kJump:
      reach(pc + instruction.operand);
      break;
    default:
      if (holds(instruction.op)) reach(pc + 1);
  }
}

// Recursive descent over the pattern, writing instructions as it goes. Each
// parse function appends the instructions of what it read to code_ and
// returns false, with refusal_ set, when the pattern is refused.
class RegexProgram::Compiler {
 public:
  Compiler(const char* pattern, int length, bool matchCase,
           RegexProgram* program)
      : pattern_(reinterpret_cast<const unsigned char*>(pattern)),
        length_(length),
        matchCase_(matchCase),
        program_(program) {}

  const char* compile() {
    Literals literals;
    if (!parseAlternation(0, &literals)) return refusal_;
    if (position_ < length_) return "unbalanced parenthesis";  // a stray ')'
    if (!emit({Op::kMatch, 0, 0, 0})) return refusal_;
    const std::string& required = literals.required;
    std::copy(required.begin(), required.end(), program_->required_);
    program_->requiredLength_ = static_cast<uint8_t>(required.size());
    for (const std::string& other : literals.others) {
      RegexProgram::Literal& kept =
          program_->otherRequired_[program_->otherRequiredCount_++];
      std::copy(other.begin(), other.end(), kept.bytes);
      kept.length = static_cast<uint8_t>(other.size());
    }
    const auto anchor = std::find_if(
        required.begin(), required.end(),
        [](char c) { return !isAsciiLetter(static_cast<unsigned char>(c)); });
    program_->requiredAnchor_ = static_cast<uint8_t>(
        anchor == required.end() ? 0 : anchor - required.begin());
    program_->matchCase_ = matchCase_;
    describeStart();
    return nullptr;
  }

 private:
  std::vector<Instruction>& code() { return program_->code_; }
  int size() const { return static_cast<int>(program_->code_.size()); }

  bool refuse(const char* reason) {
    refusal_ = reason;
    return false;
  }
  bool atEnd() const { return position_ >= length_; }
  unsigned char peek(int ahead = 0) const {
    return position_ + ahead < length_ ? pattern_[position_ + ahead] : 0;
  }
  bool room(int64_t added) {
    return size() + added <= kMaxInstructions || refuse("pattern too large");
  }
  bool emit(Instruction instruction) {
    if (!room(1)) return false;
    code().push_back(instruction);
    return true;
  }
  bool insert(int at, Instruction instruction) {
    if (!room(1)) return false;
    code().insert(code().begin() + at, instruction);
    return true;
  }
  static Instruction jumpBy(Op op, int offset) {
    return {op, 0, 0, static_cast<int16_t>(offset)};
  }

  // alternative ('|' alternative)*, as a chain of splits: each split tries
  // its alternative and the splits after it; each alternative but the last
  // jumps to the end.
  bool parseAlternation(int depth, Literals* literals) {
    if (depth > kMaxNesting) return refuse("pattern nests too deeply");
    int start = size();
    if (!parseSequence(depth, literals)) return false;
    std::vector<int> exits;
    while (peek() == '|') {
      ++position_;
      if (!insert(start, jumpBy(Op::kSplit, 0))) return false;
      exits.push_back(size());
      if (!emit(jumpBy(Op::kJump, 0))) return false;
      code()[start].operand = static_cast<int16_t>(size() - start);
      start = size();
      Literals next;
      if (!parseSequence(depth, &next)) return false;
      *literals = Literals::either(*literals, next);
    }
    for (int exit : exits) {
      code()[exit].operand = static_cast<int16_t>(size() - exit);
    }
    return true;
  }

  bool parseSequence(int depth, Literals* literals) {
    *literals = Literals();
    while (!atEnd() && peek() != '|' && peek() != ')') {
      Literals term;
      if (!parseTerm(depth, &term)) return false;
      *literals = Literals::sequence(*literals, term);
    }
    return true;
  }

  // An anchor, or an atom with at most one quantifier.
  bool parseTerm(int depth, Literals* literals) {
    *literals = Literals();
    const unsigned char c = peek();
    if (c == '^' || c == '$' ||
        (c == '\\' && (peek(1) == 'b' || peek(1) == 'B'))) {
      Op op = c == '^'         ? Op::kTextStart
              : c == '$'       ? Op::kTextEnd
              : peek(1) == 'b' ? Op::kWordBoundary
                               : Op::kNotWordBoundary;
      position_ += c == '\\' ? 2 : 1;
      return emit({op, 0, 0, 0}) && noQuantifier();
    }
    if (!noQuantifier()) return false;
    const int start = size();
    if (!parseAtom(depth, literals)) return false;
    int min = 1, max = 1;
    if (!parseQuantifier(&min, &max)) return true;
    *literals = Literals::repeated(*literals, min, max);
    return repeat(start, min, max) && noQuantifier();
  }

  bool noQuantifier() {
    int min, max;
    const int before = position_;
    const bool found = parseQuantifier(&min, &max);
    position_ = before;
    return !found || refuse("nothing to repeat");
  }

  // * + ? {m} {m,} {m,n}, each optionally followed by the lazy '?' (the
  // same for a yes/no search). Leaves the position alone when there is none;
  // a '{' that does not start a well-formed count is a literal. max is -1
  // for no bound.
  bool parseQuantifier(int* min, int* max) {
    const unsigned char c = peek();
    if (c == '{') {
      if (!parseCount(min, max)) return false;
    } else if (c == '*' || c == '+' || c == '?') {
      *min = c == '+' ? 1 : 0;
      *max = c == '?' ? 1 : -1;
      ++position_;
    } else {
      return false;
    }
    if (peek() == '?') ++position_;
    return true;
  }

  // {m}, {m,} or {m,n}: on success the position is past the '}'.
  bool parseCount(int* min, int* max) {
    int at = position_ + 1;
    auto number = [&](int* value) {
      const int first = at;
      *value = 0;
      while (at < length_ && isDigit(pattern_[at])) {
        *value = std::min(*value * 10 + (pattern_[at] - '0'), kCountLimit);
        ++at;
      }
      return at > first;
    };
    if (!number(min)) return false;
    *max = *min;
    if (at < length_ && pattern_[at] == ',') {
      ++at;
      if (!number(max)) *max = -1;
    }
    if (at >= length_ || pattern_[at] != '}') return false;
    position_ = at + 1;
    return true;
  }

  // Rewrites the piece [start, size()) as `min` to `max` copies of itself:
  //   x*      jump(split); x; split(+1, x)  (one step from x back to x)
  //   x{m,}   x ... x; split(+1, last x)
  //   x{m,n}  x ... x (m times); then n - m times: split(+1, +|x|+1); x
  bool repeat(int start, int min, int max) {
    if (max != -1 && min > max) return refuse("quantifier range out of order");
    const std::vector<Instruction> piece(code().begin() + start, code().end());
    const int64_t n = static_cast<int64_t>(piece.size());
    if (n == 0) return true;  // repeating nothing is nothing
    const int64_t total = max == -1 ? (min == 0 ? n + 2 : min * n + 1)
                                    : min * n + (max - min) * (n + 1);
    if (!room(total - n)) return false;
    code().resize(start);
    auto copy = [&] {
      code().insert(code().end(), piece.begin(), piece.end());
    };
    if (max == -1 && min == 0) {
      code().push_back(jumpBy(Op::kJump, static_cast<int>(n + 1)));
      copy();
      code().push_back(jumpBy(Op::kSplit, static_cast<int>(-n)));
      return true;
    }
    for (int i = 0; i < min; ++i) copy();
    if (max == -1) {
      code().push_back(jumpBy(Op::kSplit, static_cast<int>(-n)));
      return true;
    }
    for (int i = min; i < max; ++i) {
      code().push_back(jumpBy(Op::kSplit, static_cast<int>(n + 1)));
      copy();
    }
    return true;
  }

  bool parseAtom(int depth, Literals* literals) {
    const unsigned char c = peek();
    ++position_;
    switch (c) {
      case '(':
        return parseGroup(depth, literals);
      case '[':
        *literals = Literals::unknown();
        return parseClass();
      case '.': {
        ByteSet any;
        for (int b = 0; b < 256; ++b) {
          if (b != '\n' && b != '\r') any.add(static_cast<unsigned char>(b));
        }
        *literals = Literals::unknown();
        return emitClass(any);
      }
      case '\\':
        return parseAtomEscape(literals);
      default:
        if (c >= 0x80) return refuse("non-ASCII characters are not supported");
        return emitByte(c, literals);
    }
  }

  bool parseGroup(int depth, Literals* literals) {
    if (peek() == '?') {
      const unsigned char kind = peek(1);
      const bool behind = kind == '<' && (peek(2) == '=' || peek(2) == '!');
      if (kind == '=' || kind == '!' || behind) {
        return refuse("look-around is not supported");
      }
      if (kind == '<') return refuse("named groups are not supported");
      if (kind != ':') return refuse("unsupported group syntax");
      position_ += 2;
    }
    if (!parseAlternation(depth + 1, literals)) return false;
    if (peek() != ')') return refuse("unbalanced parenthesis");
    ++position_;
    return true;
  }

  // After '\' outside a class: back-references, then what classes share.
  bool parseAtomEscape(Literals* literals) {
    const unsigned char c = peek();
    if ((c >= '1' && c <= '9') || c == 'k') {
      return refuse("back-references are not supported");
    }
    ByteSet set;
    int byte = -1;
    if (!parseEscape(&set, &byte)) return false;
    if (byte >= 0) return emitByte(static_cast<unsigned char>(byte), literals);
    *literals = Literals::unknown();
    return emitClass(set);
  }

  // After '\': a single byte (*byte) or a class escape (*set, *byte -1).
  bool parseEscape(ByteSet* set, int* byte) {
    if (atEnd()) return refuse("trailing backslash");
    const unsigned char c = peek();
    ++position_;
    *byte = -1;
    // Letters that stand for control characters, each followed by its byte.
    static const char kControlEscapes[] = "t\tn\nr\rv\vf\f";
    for (const char* entry = kControlEscapes; *entry != '\0'; entry += 2) {
      if (c == static_cast<unsigned char>(entry[0])) {
        *byte = static_cast<unsigned char>(entry[1]);
        return true;
      }
    }
    switch (c) {
      case 'd':
      case 'D':
      case 'w':
      case 'W':
      case 's':
      case 'S': {
        const unsigned char kind = lowerCase(c);
        for (int b = 0; b < 256; ++b) {
          const unsigned char u = static_cast<unsigned char>(b);
          const bool in = kind == 'd'   ? isDigit(u)
                          : kind == 'w' ? isWordByte(u)
                                        : isSpaceByte(u);
          if (in != (c < 'a')) set->add(u);  // upper case: the complement
        }
        return true;
      }
      case '0':
        if (isDigit(peek())) return refuse("unsupported escape");
        *byte = 0;
        return true;
      case 'x':
      case 'u':
        return parseHex(c == 'x' ? 2 : 4, byte);
      default:
        if (c >= 0x80) return refuse("non-ASCII characters are not supported");
        if (isAsciiLetter(c) || isDigit(c)) return refuse("unsupported escape");
        *byte = c;
        return true;
    }
  }

  bool parseHex(int digits, int* byte) {
    int value = 0;
    for (int i = 0; i < digits; ++i) {
      const int digit = hexValue(peek());
      if (digit < 0) return refuse("incomplete escape");
      value = value * 16 + digit;
      ++position_;
    }
    if (value >= 0x80) return refuse("non-ASCII characters are not supported");
    *byte = value;
    return true;
  }

  // After '[': members up to the closing ']'.
  bool parseClass() {
    const bool negated = peek() == '^';
    if (negated) ++position_;
    ByteSet set;
    for (;;) {
      if (atEnd()) return refuse("unterminated character class");
      if (peek() == ']') break;
      int low;
      if (!parseClassMember(&set, &low)) return false;
      if (peek() != '-' || peek(1) == ']' || position_ + 1 >= length_) {
        if (low >= 0) set.add(static_cast<unsigned char>(low));
        continue;
      }
      ++position_;  // the '-'
      int high;
      if (!parseClassMember(&set, &high)) return false;
      if (low < 0 || high < 0) {
        // A class escape at either end: the '-' is a member of its own.
        for (int end : {low, int{'-'}, high}) {
          if (end >= 0) set.add(static_cast<unsigned char>(end));
        }
      } else if (low > high) {
        return refuse("character class range out of order");
      } else {
        for (int b = low; b <= high; ++b) {
          set.add(static_cast<unsigned char>(b));
        }
      }
    }
    ++position_;  // the ']'
    if (!matchCase_) {
      for (int b = 'a'; b <= 'z'; ++b) {
        if (set.has(static_cast<unsigned char>(b)) ||
            set.has(static_cast<unsigned char>(b - 0x20))) {
          set.add(static_cast<unsigned char>(b));
          set.add(static_cast<unsigned char>(b - 0x20));
        }
      }
    }
    if (negated) {
      for (uint64_t& word : set.words) word = ~word;
    }
    return emitClass(set);
  }

  // One member: a byte (*byte), or a class escape added to *set (*byte -1).
  bool parseClassMember(ByteSet* set, int* byte) {
    const unsigned char c = peek();
    ++position_;
    if (c >= 0x80) return refuse("non-ASCII characters are not supported");
    if (c != '\\') {
      *byte = c;
      return true;
    }
    if (peek() == 'b') {
      ++position_;
      *byte = '\b';
      return true;
    }
    return parseEscape(set, byte);
  }

  bool emitByte(unsigned char c, Literals* literals) {
    *literals = Literals::ofByte(matchCase_ ? c : lowerCase(c));
    return emit({Op::kByte, c, matchCase_ ? c : otherCase(c), 0});
  }

  // Letters of `set` must already come in both cases unless matchCase_ (the
  // class escapes and '.' do).
  bool emitClass(const ByteSet& set) {
    std::vector<ByteSet>& classes = program_->classes_;
    const auto found = std::find(classes.begin(), classes.end(), set);
    const int index = static_cast<int>(found - classes.begin());
    if (found == classes.end()) classes.push_back(set);
    return emit({Op::kClass, 0, 0, static_cast<int16_t>(index)});
  }

  // What the start of every match looks like: anchoredAtStart_ when a '^'
  // stands on every path to the first byte consumed or the match, and the
  // bytes that can be consumed first when no path reaches the match without
  // consuming any.
  void describeStart() {
    bool matchesWithoutByte = false;
    bool reachesWithoutStart = false;
    ByteSet first;
    // Two walks: through '^' (any start) and stopping at it (not at 0).
    for (bool throughStart : {true, false}) {
      std::vector<bool> seen(code().size(), false);
      std::vector<int> pending = {0};
      seen[0] = true;
      while (!pending.empty()) {
        const int pc = pending.back();
        pending.pop_back();
        const Instruction& instruction = code()[pc];
        auto reach = [&](int target) {
          if (!seen[target]) {
            seen[target] = true;
            pending.push_back(target);
          }
        };
        switch (instruction.op) {
          case Op::kByte:
          case Op::kClass:
            if (!throughStart) {
              reachesWithoutStart = true;
              break;
            }
            for (int b = 0; b < 256; ++b) {
              const unsigned char u = static_cast<unsigned char>(b);
              if (program_->accepts(instruction, u)) first.add(u);
            }
            break;
          case Op::kMatch:
            if (throughStart) {
              matchesWithoutByte = true;
            } else {
              reachesWithoutStart = true;
            }
            break;
          default:
            // Any assertion may hold at some position but '^', which is
            // followed only on the first walk.
            forEachSuccessor(
                instruction, pc,
                [&](Op op) { return throughStart || op != Op::kTextStart; },
                reach);
        }
      }
    }
    program_->anchoredAtStart_ = !reachesWithoutStart;
    program_->skipsAhead_ = !matchesWithoutByte;
    program_->firstBytes_ = first;
  }

  const unsigned char* pattern_;
  int length_;
  bool matchCase_;
  RegexProgram* program_;
  int position_ = 0;
  const char* refusal_ = nullptr;
};

// One search: the threads of a Thompson simulation as bit sets over the
// instructions, all on the caller's stack. A thread is a consuming
// instruction waiting for the next byte; the instructions that consume
// nothing are followed at once, each at most once per text position.
class RegexProgram::Search {
 public:
  Search(const RegexProgram& program, const unsigned char* text, int length)
      : code_(program.code_.data()),
        program_(program),
        text_(text),
        length_(length),
        words_((program.instructionCount() + 63) / 64) {}

  bool run() {
    clear(current_);
    clear(visited_);
    int live = 0;  // threads in current_
    for (int position = 0;; ++position) {
      if (position == 0 || !program_.anchoredAtStart_) {
        if (live == 0 && program_.skipsAhead_) {
          const int next = nextFirstByte(position);
          if (next == length_) return false;
          if (next != position) clear(visited_);
          position = next;
        }
        if (follow(0, position, current_, &live)) return true;
      }
      if (live == 0 && program_.anchoredAtStart_) return false;
      if (position == length_) return false;
      if (step(position, &live)) return true;
    }
  }

 private:
  void clear(uint64_t* bits) const { std::fill(bits, bits + words_, 0); }
  static bool has(const uint64_t* bits, int pc) {
    return (bits[pc >> 6] >> (pc & 63)) & 1;
  }
  static void set(uint64_t* bits, int pc) {
    bits[pc >> 6] |= uint64_t{1} << (pc & 63);
  }

  int nextFirstByte(int position) const {
    while (position < length_ && !program_.firstBytes_.has(text_[position])) {
      ++position;
    }
    return position;
  }

  // Whether the assertion `op` holds at `position`.
  bool holds(Op op, int position) const {
    switch (op) {
      case Op::kTextStart:
        return position == 0;
      case Op::kTextEnd:
        return position == length_;
      default: {
        const bool before = position > 0 && isWordByte(text_[position - 1]);
        const bool after = position < length_ && isWordByte(text_[position]);
        return (before != after) == (op == Op::kWordBoundary);
      }
    }
  }

  // Moves every thread of current_ that accepts the byte at `position` on to
  // position + 1.
  bool step(int position, int* live) {
    uint64_t* next = current_ == first_ ? second_ : first_;
    clear(next);
    clear(visited_);
    int nextLive = 0;
    const unsigned char byte = text_[position];
    for (int word = 0; word < words_; ++word) {
      for (uint64_t bits = current_[word]; bits != 0; bits &= bits - 1) {
        const int pc = word * 64 + __builtin_ctzll(bits);
        if (program_.accepts(code_[pc], byte) &&
            follow(pc + 1, position + 1, next, &nextLive)) {
          return true;
        }
      }
    }
    current_ = next;
    *live = nextLive;
    return false;
  }

  // Adds to `threads` the consuming instructions reachable from `pc` at
  // `position` without consuming; true when the match is reachable.
  bool follow(int pc, int position, uint64_t* threads, int* live) {
    int pending = 0;
    // Consuming instructions become threads at once; the others wait on the
    // stack for their successors to be followed.
    auto reach = [&](int target) {
      if (has(visited_, target)) return;
      set(visited_, target);
      if (code_[target].op <= Op::kClass) {
        set(threads, target);
        ++*live;
      } else {
        stack_[pending++] = static_cast<uint16_t>(target);
      }
    };
    auto holdsHere = [&](Op op) { return holds(op, position); };
    reach(pc);
    while (pending > 0) {
      const int at = stack_[--pending];
      if (code_[at].op == Op::kMatch) return true;
      forEachSuccessor(code_[at], at, holdsHere, reach);
    }
    return false;
  }

  const Instruction* code_;
  const RegexProgram& program_;
  const unsigned char* text_;
  int length_;
  int words_;
  // Threads at the current position and the next one, by turns.
  uint64_t first_[kWords];
  uint64_t second_[kWords];
  uint64_t* current_ = first_;
  // Instructions followed at the position being filled.
  uint64_t visited_[kWords];
  uint16_t stack_[kMaxInstructions];
};

RegexProgram::RegexProgram() = default;

bool RegexProgram::compile(const char* pattern, int length, bool matchCase,
                           RegexProgram* program, const char** refusal) {
  if (length < 0) {
    *refusal = "invalid pattern length";
    return false;
  }
  RegexProgram compiled;
  const char* reason =
      Compiler(pattern, length, matchCase, &compiled).compile();
  if (reason != nullptr) {
    *refusal = reason;
    return false;
  }
  compiled.code_.shrink_to_fit();
  compiled.classes_.shrink_to_fit();
  *program = std::move(compiled);
  return true;
}

bool RegexProgram::search(const char* text, int length) const {
  if (code_.empty() || length < 0) return false;
  const unsigned char* bytes = reinterpret_cast<const unsigned char*>(text);
  if (!containsRequired(bytes, length)) return false;
  return Search(*this, bytes, length).run();
}

// Candidates are found by one byte of the literal, its anchor: memchr finds
// it when its case is known, which is why the compiler picks a byte that is
// not a letter when the literal has one.
bool RegexProgram::containsRequired(const unsigned char* text,
                                    int length) const {
  const int n = requiredLength_;
  if (n == 0) return true;
  if (length < n) return false;
  const int anchor = requiredAnchor_;
  const unsigned char wanted = static_cast<unsigned char>(required_[anchor]);
  const bool anchorHasCase = !matchCase_ && isAsciiLetter(wanted);
  // The last place where the anchor byte of a whole literal can stand.
  const unsigned char* last = text + (length - n) + anchor;
  for (const unsigned char* at = text + anchor; at <= last; ++at) {
    if (anchorHasCase) {
      if (lowerCase(*at) != wanted) continue;
    } else {
      at = static_cast<const unsigned char*>(memchr(at, wanted, last - at + 1));
      if (at == nullptr) return false;
    }
    const unsigned char* start = at - anchor;
    int i = 0;
    while (i < n && (matchCase_ ? start[i] : lowerCase(start[i])) ==
                        static_cast<unsigned char>(required_[i])) {
      ++i;
    }
    if (i == n) return true;
  }
  return false;
}

bool RegexProgram::accepts(const Instruction& instruction,
                           unsigned char byte) const {
  return instruction.op == Op::kByte
             ? byte == instruction.byte || byte == instruction.otherCase
             : classes_[instruction.operand].has(byte);
}

size_t RegexProgram::heapBytes() const {
  return code_.capacity() * sizeof(Instruction) +
         classes_.capacity() * sizeof(ByteSet);
}

}  // namespace tessul
