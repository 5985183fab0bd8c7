// The file-system wildcard algorithm (with DOS_STAR, DOS_QM, DOS_DOT), on bytes for ASCII names and
// on folded UTF-16 units for the rest.
#include "platform/posix/files/wildcard.h"

#include "platform/posix/name_fold.h"

#include <algorithm>
#include <vector>

namespace vlx::posix {
namespace {

template <typename Char> bool isSpecial(Char e) {
  return e == '*' || e == kDosStar || e == kDosQm || e == kDosDot;
}

// Runs an expression (specials as in dosExpression) over a name of the same character type whose
// letters are already folded, or folded by `fold` as they are read. The expression as an
// automaton over its positions, run on all live positions at once: time is the product of the
// lengths, with no backtracking.
template <typename Char, typename Fold>
bool runExpression(std::basic_string_view<Char> expr, std::basic_string_view<Char> name,
                   Fold fold) {
  const std::size_t m = expr.size();
  // A parent entry matches as the entry of the directory itself.
  if (name.size() == 2 && name[0] == Char('.') && name[1] == Char('.'))
    name.remove_suffix(1);
  const std::size_t lastDot = name.rfind(Char('.'));
  unsigned char small[2][64];
  std::vector<unsigned char> large;
  unsigned char *live = small[0];
  unsigned char *next = small[1];
  if (m + 1 > sizeof small[0]) {
    large.resize(2 * (m + 1));
    live = large.data();
    next = live + m + 1;
  }
  // A live DOS_STAR that has taken the name's last dot may take nothing more: kSpent.
  constexpr unsigned char kLive = 1;
  constexpr unsigned char kSpent = 2;
  const auto enter = [](unsigned char &state, unsigned char how) {
    if (state != kLive)
      state = how;
  };
  // A run of DOS_QMs that ends the expression takes a dot as a whole, and ends the match there.
  std::size_t finalQms = m;
  while (finalQms > 0 && expr[finalQms - 1] == kDosQm)
    --finalQms;
  std::fill(live, live + m + 1, 0);
  live[0] = kLive;

  for (std::size_t i = 0;; ++i) {
    const bool atEnd = i == name.size();
    const Char c = atEnd ? Char(0) : name[i];
    // Moves that take no character; they only go forward, so one pass settles them.
    for (std::size_t p = 0; p < m; ++p) {
      if (!live[p])
        continue;
      const Char e = expr[p];
      if (e == '*' || e == kDosStar || (e == kDosDot && atEnd) ||
          (e == kDosQm && (atEnd || c == '.')))
        enter(live[p + 1], kLive);
    }
    if (atEnd)
      return live[m] != 0;

    std::fill(next, next + m + 1, 0);
    bool any = false;
    const Char u = fold(c);
    for (std::size_t p = 0; p < m; ++p) {
      if (!live[p])
        continue;
      const Char e = expr[p];
      std::size_t to = p + 1;
      unsigned char how = kLive;
      bool takes;
      if (e == '*') {
        takes = true;
        to = p;
      } else if (e == kDosStar) {
        // Any run up to the name's last dot, that dot included; one that begins past it, the
        // rest of the name.
        takes = live[p] == kLive;
        to = p;
        if (i == lastDot)
          how = kSpent;
      } else if (e == kDosQm) {
        takes = c != '.' || p >= finalQms;
        if (c == '.')
          to = m;
      } else if (e == kDosDot) {
        takes = c == '.';
      } else {
        takes = e == u;
      }
      if (takes) {
        enter(next[to], how);
        any = true;
      }
    }
    if (!any)
      return false;
    std::swap(live, next);
  }
}

bool equalsUpper(std::string_view name, std::string_view upperText) {
  if (name.size() != upperText.size())
    return false;
  for (std::size_t i = 0; i < name.size(); ++i)
    if (upperAscii(name[i]) != upperText[i])
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
      expr += upperAscii(c);
  }
  return expr;
}

WildcardPattern::WildcardPattern(std::string_view pattern)
    : expr_(dosExpression(pattern)), folded_(foldedUnits(expr_)), asciiPattern_(isAscii(expr_)) {
  auto specials = std::count_if(expr_.begin(), expr_.end(), isSpecial<char>);
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
  if (!asciiPattern_ || !isAscii(name))
    return runExpression<char32_t>(folded_, foldedUnits(name), [](char32_t c) { return c; });
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
  return runExpression<char>(expr_, name, upperAscii);
}

bool wildcardMatch(std::string_view pattern, std::string_view name) {
  return WildcardPattern(pattern).matches(name);
}

} // namespace vlx::posix
