// Help text fitted to the terminal, and the hints a usage error gives.
#include "vlx/core/help.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <sys/ioctl.h>
#include <unistd.h>

namespace vlx::cli {
namespace {

// Where the text of a help line starts for its continuation lines.
size_t hangingIndent(const std::string &line) {
  const size_t text = line.find_first_not_of(' ');
  if (text == std::string::npos)
    return 0;
  const size_t gap = line.find("  ", text);
  if (gap != std::string::npos && gap < 48) {
    const size_t after = line.find_first_not_of(' ', gap);
    if (after != std::string::npos && after < 48)
      return after;
  }
  return text;
}

void wrapLine(std::string &out, const std::string &line, size_t width) {
  if (line.size() <= width) {
    out += line;
    return;
  }
  const size_t indent = std::min(hangingIndent(line), width - 20);
  size_t start = 0;
  bool first = true;
  while (start < line.size()) {
    const size_t room = first ? width : width - indent;
    if (line.size() - start <= room) {
      out.append(line, start, std::string::npos);
      return;
    }
    size_t cut = line.rfind(' ', start + room);
    if (cut == std::string::npos || cut <= start || (first && cut < indent))
      cut = line.find(' ', start + room); // a word longer than the room stays whole
    if (cut == std::string::npos) {
      out.append(line, start, std::string::npos);
      return;
    }
    size_t end = cut;
    while (end > start && line[end - 1] == ' ')
      --end;
    out.append(line, start, end - start);
    out += '\n';
    out.append(indent, ' ');
    start = line.find_first_not_of(' ', cut);
    if (start == std::string::npos)
      return;
    first = false;
  }
}

// Edits from one word to the other, two letters swapped counting as one (letter case ignored).
size_t editDistance(const std::string &a, const std::string &b) {
  auto same = [&](size_t i, size_t j) {
    return std::tolower(static_cast<unsigned char>(a[i])) ==
           std::tolower(static_cast<unsigned char>(b[j]));
  };
  std::vector<std::vector<size_t>> d(a.size() + 1, std::vector<size_t>(b.size() + 1));
  for (size_t i = 0; i <= a.size(); ++i)
    d[i][0] = i;
  for (size_t j = 0; j <= b.size(); ++j)
    d[0][j] = j;
  for (size_t i = 1; i <= a.size(); ++i)
    for (size_t j = 1; j <= b.size(); ++j) {
      d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + !same(i - 1, j - 1)});
      if (i > 1 && j > 1 && same(i - 1, j - 2) && same(i - 2, j - 1))
        d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
    }
  return d[a.size()][b.size()];
}

} // namespace

size_t terminalWidth() {
  winsize size{};
  if (::ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col >= 20)
    return size.ws_col;
  if (const char *columns = std::getenv("COLUMNS")) {
    const long n = std::strtol(columns, nullptr, 10);
    if (n >= 20 && n <= 1000)
      return static_cast<size_t>(n);
  }
  return 80;
}

std::string wrapText(const std::string &text, size_t width) {
  std::string out;
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find('\n', start);
    wrapLine(out, text.substr(start, end == std::string::npos ? std::string::npos : end - start),
             width);
    if (end == std::string::npos)
      break;
    out += '\n';
    start = end + 1;
  }
  return out;
}

std::string nearestWord(const std::string &word, const std::vector<std::string> &candidates) {
  std::string best;
  size_t bestDistance = std::string::npos;
  for (const auto &candidate : candidates) {
    size_t d = editDistance(word, candidate);
    // A prefix of a command ("imp" for "import") is as near as a typo.
    if (word.size() >= 2 && candidate.size() > word.size() &&
        editDistance(word, candidate.substr(0, word.size())) == 0)
      d = 1;
    if (d < bestDistance) {
      bestDistance = d;
      best = candidate;
    }
  }
  const size_t allowed = std::max<size_t>(1, std::min<size_t>(3, word.size() / 3 + 1));
  return bestDistance <= allowed ? best : std::string();
}

} // namespace vlx::cli
