// libFuzzer target: the wildcard matcher against a plain recursive reading of the DOS rules,
// and the case of a name never changing the answer.
#include "platform/posix/files/wildcard.h"
#include "platform/posix/name_fold.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

namespace {

using namespace vlx::posix;

char swapAscii(char c) {
  if (c >= 'a' && c <= 'z')
    return static_cast<char>(c - 32);
  if (c >= 'A' && c <= 'Z')
    return static_cast<char>(c + 32);
  return c;
}

// The documented meaning of each expression character, tried position by position with a memo.
class Reference {
public:
  // Both as the matcher compares them: folded UTF-16 units.
  // The parent entry ".." matches as the directory's own entry ".".
  Reference(std::u32string_view expr, std::u32string_view name)
      : expr_(expr), name_(name == U".." ? name.substr(0, 1) : name), lastDot_(name_.rfind('.')),
        memo_((expr.size() + 1) * (name_.size() + 1), -1) {}

  bool match(std::size_t e, std::size_t n) {
    signed char &known = memo_[e * (name_.size() + 1) + n];
    if (known < 0)
      known = compute(e, n) ? 1 : 0;
    return known != 0;
  }

private:
  bool finalQms(std::size_t e) const {
    for (; e < expr_.size(); ++e)
      if (expr_[e] != kDosQm)
        return false;
    return true;
  }

  bool compute(std::size_t e, std::size_t n) {
    const bool end = n == name_.size();
    if (e == expr_.size())
      return end;
    const char32_t c = end ? 0 : name_[n];
    switch (expr_[e]) {
    case '*':
      return match(e + 1, n) || (!end && match(e, n + 1));
    case kDosStar:
      // It may take the name's last dot, but nothing after it once it has.
      return match(e + 1, n) || (!end && (n == lastDot_ ? match(e + 1, n + 1) : match(e, n + 1)));
    case kDosQm:
      if (end)
        return match(e + 1, n);
      // A run of them that ends the expression may take a dot that ends the name.
      if (c == '.')
        return match(e + 1, n) || (finalQms(e) && n + 1 == name_.size());
      return match(e + 1, n + 1);
    case kDosDot:
      return end ? match(e + 1, n) : c == '.' && match(e + 1, n + 1);
    default:
      return !end && c == expr_[e] && match(e + 1, n + 1);
    }
  }

  std::u32string_view expr_;
  std::u32string_view name_;
  std::size_t lastDot_;
  std::vector<signed char> memo_;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
  // "pattern\nname"; lengths kept to what a path component can hold.
  std::string_view input(reinterpret_cast<const char *>(data), size);
  std::size_t split = input.find('\n');
  if (split == std::string_view::npos || split > 300 || size - split - 1 > 300)
    return 0;
  std::string_view pattern = input.substr(0, split);
  std::string_view name = input.substr(split + 1);

  bool fast = wildcardMatch(pattern, name);
  const std::u32string expr = vlx::foldedUnits(dosExpression(pattern));
  const std::u32string folded = vlx::foldedUnits(name);
  if (fast != Reference(expr, folded).match(0, 0))
    std::abort();

  std::string swapped(name);
  for (char &c : swapped)
    c = swapAscii(c);
  if (WildcardPattern(pattern).matches(swapped) != fast)
    std::abort();
  return 0;
}
