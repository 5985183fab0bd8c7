// Wildcard matching of names by the Windows file-system rules, without regard to case. Names are
// UTF-8 where they decode as such and are matched as Windows matches their UTF-16 form: `?` takes
// one 16-bit unit (so two for a character beyond U+FFFF), and letters of the basic plane fold by
// the simple Unicode upper-case mapping, as the file system's up-case table does.
#pragma once

#include <string>
#include <string_view>

namespace vlx::posix {

// The DOS forms of the wildcards, as the file system reads them in an expression.
// `*` before a dot: any run up to the last dot and that dot, or the rest when it starts past it.
constexpr char kDosStar = '<';
// `?`: one character, or none at a dot or at the end; the dot itself when only wildcards follow.
constexpr char kDosQm = '>';
constexpr char kDosDot = '"'; // `.` before `?`/`*` or at the end: a dot, or none at the end

// The expression the file system matches for a search pattern, rewritten as a directory search
// does: `*.*` becomes `*`, `?` is DOS_QM, `*` before a dot is DOS_STAR, a dot before `?`/`*` or
// at the end is DOS_DOT. Letters are upper-cased.
std::string dosExpression(std::string_view pattern);

// One pattern prepared for many names (a directory listing).
class WildcardPattern {
public:
  explicit WildcardPattern(std::string_view pattern);
  bool matches(std::string_view name) const;
  // Without wildcards the pattern names one entry.
  bool isLiteral() const { return kind_ == Kind::Literal; }

private:
  enum class Kind { Literal, Suffix, General };

  // Upper-cased ASCII; for Suffix a leading star and then literal text only.
  std::string expr_;
  // The same expression folded, for names (or patterns) beyond ASCII.
  std::u32string folded_;
  bool asciiPattern_;
  Kind kind_;
};

// Whether `name` matches the search pattern `pattern`; the pure form of WildcardPattern. The
// entry ".." matches wherever "." does, as the file system lists them.
bool wildcardMatch(std::string_view pattern, std::string_view name);

} // namespace vlx::posix
