// The scan of a worksheet part: see sheet_scan.h.
#include "sheet_scan.h"

#include <charconv>
#include <cstring>
#include <optional>
#include <string_view>
#include <utility>

namespace vlx::calc {

namespace {

const std::int32_t kColumns = 16384, kRows = 1048576;

bool space(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// The value of attribute `name` in a start tag, or none.
std::optional<std::string_view> attributeOf(std::string_view tag, std::string_view name) {
  for (size_t at = tag.find(name); at != std::string_view::npos; at = tag.find(name, at + 1)) {
    if (at == 0 || !space(tag[at - 1]))
      continue;
    size_t equals = at + name.size();
    while (equals < tag.size() && space(tag[equals]))
      ++equals;
    if (equals >= tag.size() || tag[equals] != '=')
      continue;
    size_t quote = equals + 1;
    while (quote < tag.size() && space(tag[quote]))
      ++quote;
    if (quote >= tag.size() || (tag[quote] != '"' && tag[quote] != '\''))
      return std::nullopt;
    size_t close = tag.find(tag[quote], quote + 1);
    if (close == std::string_view::npos)
      return std::nullopt;
    return tag.substr(quote + 1, close - quote - 1);
  }
  return std::nullopt;
}

std::optional<std::int32_t> number(std::string_view text) {
  std::int32_t value = 0;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size())
    return std::nullopt;
  return value;
}

// A cell reference such as "AB12", from 0; none when it is not one.
std::optional<CellPosition> position(std::string_view ref) {
  CellPosition at{0, 0};
  size_t i = 0;
  for (; i < ref.size() && ref[i] >= 'A' && ref[i] <= 'Z' && at.column <= kColumns; ++i)
    at.column = at.column * 26 + (ref[i] - 'A' + 1);
  auto row = number(ref.substr(i));
  if (i == 0 || !row || *row < 1 || *row > kRows || at.column > kColumns)
    return std::nullopt;
  return CellPosition{at.column - 1, *row - 1};
}

} // namespace

SheetScan::SheetScan(std::vector<bool> generalStyles) : generalStyles_(std::move(generalStyles)) {}

void SheetScan::feed(const char *data, size_t size) {
  // An element runs from its '<' to the next one, its text included: only the last may be cut.
  // What a tag needs is at its start; a longer text (a part that inflates to one huge text, say)
  // is dropped up to the next element, so that no part costs more memory than this.
  constexpr size_t kLongest = 64 * 1024;
  if (pending_.size() >= kLongest) {
    const auto *next = static_cast<const char *>(std::memchr(data, '<', size));
    if (!next)
      return;
    size -= size_t(next - data);
    data = next;
  }
  pending_.append(data, size);
  size_t start = pending_.find('<');
  if (start == std::string::npos) {
    pending_.clear();
    return;
  }
  for (size_t next; (next = pending_.find('<', start + 1)) != std::string::npos; start = next)
    element(pending_.data() + start + 1, pending_.data() + next);
  pending_.erase(0, start);
  if (pending_.size() > kLongest)
    pending_.resize(kLongest);
}

SheetCells SheetScan::finish() {
  if (!pending_.empty() && pending_[0] == '<')
    element(pending_.data() + 1, pending_.data() + pending_.size());
  pending_.clear();
  return std::move(found_);
}

void SheetScan::element(const char *begin, const char *end) {
  std::string_view text(begin, size_t(end - begin));
  bool closing = !text.empty() && text[0] == '/';
  size_t nameEnd = text.find_first_of(" \t\r\n/>", closing ? 1 : 0);
  std::string_view name = text.substr(closing ? 1 : 0, nameEnd - (closing ? 1 : 0));
  if (size_t colon = name.rfind(':'); colon != std::string_view::npos)
    name.remove_prefix(colon + 1);
  if (closing) {
    if (name == "c" && inCell_) {
      if (general_ && formula_)
        found_.generalFormulas.push_back(at_);
      if (boolean_ && value_ && !formula_)
        found_.booleans.push_back(at_);
      inCell_ = false;
    }
    return;
  }
  if (name == "f" || name == "v") {
    (name == "f" ? formula_ : value_) = true;
    return;
  }
  if (name != "row" && name != "c")
    return;
  // The start tag ends at the first '>' outside its attributes' quotes.
  size_t tagEnd = nameEnd;
  for (char quote = 0; tagEnd < text.size() && (quote || text[tagEnd] != '>'); ++tagEnd)
    if (text[tagEnd] == '"' || text[tagEnd] == '\'')
      quote = quote == text[tagEnd] ? 0 : (quote ? quote : text[tagEnd]);
  std::string_view tag = text.substr(0, tagEnd);
  if (name == "row") {
    inCell_ = false; // a cell left open ends with its row
    auto r = attributeOf(tag, "r");
    auto row = r ? number(*r) : std::nullopt;
    at_ = {-1, row ? *row - 1 : at_.row + 1};
    return;
  }
  // A cell: where its reference says, else next to the last one.
  auto ref = attributeOf(tag, "r");
  auto cell = ref ? position(*ref) : std::nullopt;
  inCell_ = false;
  if (ref && !cell)
    return; // not a cell of the sheet
  at_ = cell ? *cell : CellPosition{at_.column + 1, at_.row};
  auto style = attributeOf(tag, "s");
  auto index = style ? number(*style) : std::int32_t(0);
  inCell_ = !(!tag.empty() && tag.back() == '/') && at_.column >= 0 && at_.row >= 0 &&
            at_.column < kColumns && at_.row < kRows;
  general_ = index && *index >= 0 && size_t(*index) < generalStyles_.size() &&
             generalStyles_[size_t(*index)];
  boolean_ = attributeOf(tag, "t") == std::string_view("b");
  formula_ = value_ = false;
}

} // namespace vlx::calc
