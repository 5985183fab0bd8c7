// The file-system wildcard algorithm (with DOS_STAR, DOS_QM, DOS_DOT) over ASCII case folding.
#include "platform/posix/files/wildcard.h"

#include <algorithm>
#include <vector>

namespace vlx::posix {
namespace {

// Names are bytes; only ASCII letters fold, as a locale-free ANSI listing does.
inline char upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

inline bool isSpecial(char e) { return e == '*' || e == kDosStar || e == kDosQm || e == kDosDot; }

bool equalsUpper(std::string_view name, std::string_view upperText) {
  if (name.size() != upperText.size())
    return false;
  for (std::size_t i = 0; i < name.size(); ++i)
    if (upper(name[i]) != upperText[i])
      return false;
  return true;
}

} // namespace

std::string dosExpression(std::string_view pattern) {
  if (pattern == "*.*")
    return "*";
  std::string expr;
  expr.reserve(pattern.size());
  for (std::size_t i = 0; i < pattern.size(); ++i) {
    char c = pattern[i];
    char next = i + 1 < pattern.size() ? pattern[i + 1] : '\0';
    bool last = i + 1 == pattern.size();
    if (c == '?')
      expr += kDosQm;
    else if (c == '*')
      expr += next == '.' ? kDosStar : '*';
    else if (c == '.')
      expr += last || next == '?' || next == '*' ? kDosDot : '.';
    else
      expr += upper(c);
  }
  return expr;
}

WildcardPattern::WildcardPattern(std::string_view pattern) : expr_(dosExpression(pattern)) {
  auto specials = std::count_if(expr_.begin(), expr_.end(), isSpecial);
  if (specials == 0)
    kind_ = Kind::Literal;
  else if (specials == 1 &&
           (expr_[0] == '*' || (expr_[0] == kDosStar && expr_.size() > 1 && expr_[1] == '.')))
    // A star then text: the text must end the name. After DOS_STAR the text holds a dot, so
    // the name's last dot lies in it and the star never has to take that dot.
    kind_ = Kind::Suffix;
  else
    kind_ = Kind::General;
}

bool WildcardPattern::matches(std::string_view name) const {
  switch (kind_) {
  case Kind::Literal:
    return equalsUpper(name, expr_);
  case Kind::Suffix: {
    std::size_t tail = expr_.size() - 1;
    return name.size() >= tail &&
           equalsUpper(name.substr(name.size() - tail), std::string_view(expr_).substr(1));
  }
  case Kind::General:
    break;
  }
  return matchesGeneral(name);
}

// The expression as an automaton over its positions, run on all live positions at once:
// time is the product of the lengths, with no backtracking.
bool WildcardPattern::matchesGeneral(std::string_view name) const {
  const std::size_t m = expr_.size();
  const std::size_t lastDot = name.rfind('.');
  unsigned char small[2][64];
  std::vector<unsigned char> large;
  unsigned char *live = small[0];
  unsigned char *next = small[1];
  if (m + 1 > sizeof small[0]) {
    large.resize(2 * (m + 1));
    live = large.data();
    next = live + m + 1;
  }
  std::fill(live, live + m + 1, 0);
  live[0] = 1;

  for (std::size_t i = 0;; ++i) {
    const bool atEnd = i == name.size();
    const char c = atEnd ? '\0' : name[i];
    // Moves that take no character; they only go forward, so one pass settles them.
    for (std::size_t p = 0; p < m; ++p) {
      if (!live[p])
        continue;
      char e = expr_[p];
      if (e == '*' || e == kDosStar || (e == kDosDot && atEnd) ||
          (e == kDosQm && (atEnd || c == '.')))
        live[p + 1] = 1;
    }
    if (atEnd)
      return live[m] != 0;

    std::fill(next, next + m + 1, 0);
    bool any = false;
    const char u = upper(c);
    for (std::size_t p = 0; p < m; ++p) {
      if (!live[p])
        continue;
      char e = expr_[p];
      std::size_t to = p + 1;
      bool takes;
      if (e == '*') {
        takes = true;
        to = p;
      } else if (e == kDosStar) {
        // Any character but the name's last dot.
        takes = c != '.' || i != lastDot;
        to = p;
      } else if (e == kDosQm) {
        takes = c != '.';
      } else if (e == kDosDot) {
        takes = c == '.';
      } else {
        takes = e == u;
      }
      if (takes) {
        next[to] = 1;
        any = true;
      }
    }
    if (!any)
      return false;
    std::swap(live, next);
  }
}

bool wildcardMatch(std::string_view pattern, std::string_view name) {
  return WildcardPattern(pattern).matches(name);
}

} // namespace vlx::posix
