// The lines of a filter list. A line ends at a NUL, a line feed or a
// carriage return, and so does everything read from a line: its option list
// runs to the same end.
#ifndef TESSUL_FILTER_LIST_LINES_H_
#define TESSUL_FILTER_LIST_LINES_H_

namespace tessul {

inline bool isLineEnd(char c) { return c == '\0' || c == '\n' || c == '\r'; }

// Calls visit(start, end) for every line of a NUL-terminated text, the end
// excluded. The walk stops after the line that ends at the NUL, so the last
// line counts even without a line break, and a carriage return followed by
// a line feed holds an empty line between them.
template <typename Visit>
void forEachLine(const char* text, Visit visit) {
  const char* lineStart = text;
  for (const char* p = text;; ++p) {
    if (!isLineEnd(*p)) continue;
    visit(lineStart, p);
    if (*p == '\0') return;
    lineStart = p + 1;
  }
}

}  // namespace tessul

#endif  // TESSUL_FILTER_LIST_LINES_H_
