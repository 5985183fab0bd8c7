// vlx(1) and the bash completion, walked from the same CLI11 tree that prints --help, so that a
// command added there shows up in both.
#include "vlx/core/generate.h"

#include "vlx/formats/reg_file.h"
#include "vlx/store/reg_store.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <cctype>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace vlx::cli {
namespace {

// Anything CLI11 keeps out of --help (an empty group) stays out of the page and the completion.
std::vector<const CLI::App *> commandsOf(const CLI::App &app) {
  return app.get_subcommands([](const CLI::App *sub) { return !sub->get_group().empty(); });
}

std::vector<const CLI::Option *> optionsOf(const CLI::App &app) {
  return app.get_options(
      [](const CLI::Option *opt) { return !opt->get_group().empty() && opt->nonpositional(); });
}

std::vector<const CLI::Option *> argumentsOf(const CLI::App &app) {
  return app.get_options(
      [](const CLI::Option *opt) { return !opt->get_group().empty() && !opt->nonpositional(); });
}

bool isFlag(const CLI::Option &opt) { return opt.get_items_expected_max() == 0; }

bool takesMany(const CLI::Option &opt) { return opt.get_items_expected_max() > 1; }

// A command that cannot run without one of its subcommands gets no entry of its own.
bool runsAlone(const CLI::App &app) { return app.get_require_subcommand_min() == 0; }

// The values an IsMember check allows, which CLI11 shows in the type name as "TEXT:{a,b,c}".
std::vector<std::string> choicesOf(const CLI::Option &opt) {
  std::string type = opt.get_type_name();
  size_t open = type.find(":{");
  size_t close = open == std::string::npos ? open : type.find('}', open);
  if (close == std::string::npos)
    return {};
  std::vector<std::string> choices;
  std::string_view list(type.data() + open + 2, close - open - 2);
  while (!list.empty()) {
    size_t comma = std::min(list.find(','), list.size());
    choices.emplace_back(list.substr(0, comma));
    list.remove_prefix(std::min(comma + 1, list.size()));
  }
  return choices;
}

std::string join(const std::vector<std::string> &words, std::string_view separator) {
  std::string out;
  for (const std::string &word : words)
    out += (out.empty() ? "" : std::string(separator)) + word;
  return out;
}

std::string upper(std::string text) {
  for (char &c : text)
    c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

// What an option's value is called: its choices, else (or when a synopsis would not hold them)
// its long name in capitals: --output OUTPUT.
std::string valueName(const CLI::Option &opt, bool inSynopsis = false) {
  std::vector<std::string> choices = choicesOf(opt);
  if (!choices.empty() && (!inSynopsis || choices.size() <= 3))
    return join(choices, "|");
  return upper(opt.get_lnames().empty() ? opt.get_snames().front() : opt.get_lnames().front());
}

std::vector<std::string> optionNames(const CLI::Option &opt) {
  std::vector<std::string> names;
  for (const std::string &s : opt.get_snames())
    names.push_back("-" + s);
  for (const std::string &l : opt.get_lnames())
    names.push_back("--" + l);
  return names;
}

std::string synopsis(const CLI::App &app, const std::string &path) {
  std::string line = path;
  for (const CLI::Option *opt : optionsOf(app)) {
    if (opt == app.get_help_ptr())
      continue;
    std::vector<std::string> names = optionNames(*opt);
    std::string word = names.back() + (isFlag(*opt) ? "" : " " + valueName(*opt, true));
    line += opt->get_required() ? " " + word : " [" + word + "]";
  }
  for (const CLI::Option *arg : argumentsOf(app)) {
    std::string word = arg->get_name() + (takesMany(*arg) ? "..." : "");
    line += arg->get_required() ? " " + word : " [" + word + "]";
  }
  return line;
}

// Text for roff: a backslash printed as such, a '-' that starts a word as a minus (so that
// options can be searched for and copied), and nothing taken for a request at a line's start.
std::string roff(std::string_view text, bool macroArgument = false) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == '\\')
      out += "\\(rs";
    else if (c == '-' && (i == 0 || !std::isalnum(static_cast<unsigned char>(text[i - 1]))))
      out += "\\-";
    else if (c == '"' && macroArgument)
      out += "\\(dq";
    else
      out += c;
  }
  if (!out.empty() && (out[0] == '.' || out[0] == '\''))
    out.insert(0, "\\&");
  return out;
}

// Each line of `text` as a line of the page; blank lines start a new paragraph.
void paragraphs(std::ostream &out, std::string_view text) {
  while (!text.empty()) {
    size_t end = std::min(text.find('\n'), text.size());
    std::string_view line = text.substr(0, end);
    out << (line.empty() ? ".PP" : roff(line)) << '\n';
    text.remove_prefix(std::min(end + 1, text.size()));
  }
}

void optionItems(std::ostream &out, const CLI::App &app, bool withHelp) {
  for (const CLI::Option *arg : argumentsOf(app))
    out << ".TP\n\\fI" << roff(arg->get_name()) << "\\fR\n" << roff(arg->get_description()) << '\n';
  for (const CLI::Option *opt : optionsOf(app)) {
    if (opt == app.get_help_ptr() && !withHelp)
      continue;
    std::vector<std::string> names = optionNames(*opt);
    out << ".TP\n";
    for (size_t i = 0; i < names.size(); ++i)
      out << (i ? ", " : "") << "\\fB" << roff(names[i]) << "\\fR";
    if (!isFlag(*opt))
      out << " \\fI" << roff(valueName(*opt)) << "\\fR";
    out << '\n' << roff(opt->get_description()) << '\n';
  }
}

// The entries of a command and of every command below it; the group's own description opens
// its section, so a group's entry leaves it out.
void commandEntries(std::ostream &out, const CLI::App &app, const std::string &path, bool top) {
  if (runsAlone(app)) {
    // The command's words are joined by unpaddable spaces: a synopsis longer than the line is
    // adjusted to its width, which must not stretch "vlx pref set".
    std::string words = roff(path, true);
    for (size_t at = words.find(' '); at != std::string::npos; at = words.find(' ', at + 2))
      words.replace(at, 1, "\\ ");
    out << ".SS \"" << words << roff(synopsis(app, path).substr(path.size()), true) << "\"\n";
    if (!top)
      paragraphs(out, app.get_description());
    optionItems(out, app, false);
  }
  for (const CLI::App *sub : commandsOf(app))
    commandEntries(out, *sub, path + " " + sub->get_name(), false);
}

void writeManPage(std::ostream &out, const CLI::App &app, const std::string &version) {
  std::string summary = app.get_description();
  if (!summary.empty()) {
    summary[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(summary[0])));
    if (summary.back() == '.')
      summary.pop_back();
  }
  out << ".\\\" Written by `vlx __man` from the tool's command tree: edit the help texts instead.\n"
      << ".TH VLX 1 \"\" \"velmora-util " << roff(version, true) << "\" \"User Commands\"\n"
      << ".nh\n"   // option names are not to be split at a line's end
      << ".ad l\n" // nor a long synopsis spread with blanks when it wraps
      << ".SH NAME\nvlx \\- " << roff(summary) << "\n"
      << ".SH SYNOPSIS\n.B vlx\n.I command\n.RI [ options ]\n.RI [ arguments ]\n"
      << ".SH DESCRIPTION\n";
  paragraphs(out, app.get_description());
  out << ".PP\nThe commands come in groups, one section each below. Every command takes "
         "\\fB\\-h\\fR, \\fB\\-\\-help\\fR, which prints its help text, the same as here.\n"
      << ".SH OPTIONS\n";
  optionItems(out, app, true);
  for (const CLI::App *group : commandsOf(app)) {
    out << ".SH \"" << roff(upper(group->get_name()), true) << "\"\n";
    paragraphs(out, group->get_description());
    commandEntries(out, *group, "vlx " + group->get_name(), true);
  }
  std::string footer = app.get_footer();
  while (!footer.empty() && footer.back() == '\n')
    footer.pop_back();
  if (!footer.empty()) {
    out << ".SH \"EXIT STATUS\"\n";
    paragraphs(out, footer);
  }
}

// How the shell completes a value, from the name the help gives it.
std::string argumentKind(const CLI::Option &arg) {
  const std::string name = arg.get_name();
  std::string kind = name == "FILE" || name == "LIBRARY" || name == "SERVER" ? "file"
                     : name == "DIR"                                         ? "dir"
                     : name == "KEY"                                         ? "key"
                     : name == "SECTION"                                     ? "section"
                     : name == "COMMAND"                                     ? "command"
                     : name == "NAME"                                        ? "value"
                                                                             : "-";
  return takesMany(arg) ? kind + "*" : kind;
}

std::string quoted(const std::string &word) {
  std::string out = "'";
  for (char c : word)
    out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

struct CompletionTables {
  std::string nodes;  // case branches of _vlx_node
  std::string values; // case branches of _vlx_value
};

void completionEntries(CompletionTables &tables, const CLI::App &app, const std::string &path) {
  std::vector<std::string> subs, opts, valued, kinds;
  for (const CLI::App *sub : commandsOf(app))
    subs.push_back(sub->get_name());
  for (const CLI::Option *opt : optionsOf(app)) {
    std::vector<std::string> names = optionNames(*opt);
    opts.insert(opts.end(), names.begin(), names.end());
    if (isFlag(*opt))
      continue;
    valued.insert(valued.end(), names.begin(), names.end());
    std::vector<std::string> choices = choicesOf(*opt);
    bool isFile = !opt->get_lnames().empty() && opt->get_lnames().front() == "output";
    if (choices.empty() && !isFile)
      continue;
    std::vector<std::string> patterns;
    for (const std::string &name : names)
      patterns.push_back(quoted(path + "|" + name));
    tables.values += "  " + join(patterns, " | ") + ") " +
                     (choices.empty() ? "kind=file" : "words=" + quoted(join(choices, " "))) +
                     " ;;\n";
  }
  for (const CLI::Option *arg : argumentsOf(app))
    kinds.push_back(argumentKind(*arg));
  tables.nodes += "  " + quoted(path) + ") subs=" + quoted(join(subs, " ")) +
                  " opts=" + quoted(join(opts, " ")) + " valued=" + quoted(join(valued, " ")) +
                  " args=" + quoted(join(kinds, " ")) + " ;;\n";
  for (const CLI::App *sub : commandsOf(app))
    completionEntries(tables, *sub, path.empty() ? sub->get_name() : path + " " + sub->get_name());
}

const char kCompletionMain[] = R"bash(
# A word as typed, its quote or backslashes taken off, in `raw`; `quote` is its opening quote.
_vlx_raw() {
  local word=$1 i
  raw='' quote=''
  if [[ $word == \'* ]]; then
    quote=\'
    raw=${word#\'}
    raw=${raw%\'}
  else
    for ((i = 0; i < ${#word}; i++)); do
      [[ ${word:i:1} == \\ ]] && i=$((i + 1))
      raw+=${word:i:1}
    done
  fi
}

# Registry keys, preference sections and value names come from the tool itself, which reads the
# store; a value name after the section or key ($4) it belongs to.
_vlx_store() {
  local tool=$1 kind=$2 word=$3 raw quote name context=()
  if [[ -n ${4+set} ]]; then
    _vlx_raw "$4"
    context=("$raw")
  fi
  _vlx_raw "$word"
  while IFS= read -r name; do
    if [[ -n $quote ]]; then
      COMPREPLY+=("'$name")
    else
      COMPREPLY+=("$(printf '%q' "$name")")
    fi
  done < <("$tool" __complete "$kind" "${context[@]}" "$raw" 2>/dev/null)
  # A key may go on with a backslash and a subkey.
  [[ $kind == key ]] && compopt -o nospace 2>/dev/null
  return 0
}

_vlx() {
  local cur=${COMP_WORDS[COMP_CWORD]} path='' npos=0 expect='' word i
  local subs opts valued args words='' kind=- named= positional=() before=-
  _vlx_node ''
  for ((i = 1; i < COMP_CWORD; i++)); do
    word=${COMP_WORDS[i]}
    if [[ -n $expect ]]; then
      expect=''
    elif [[ $word == -* ]]; then
      [[ $word != *=* && " $valued " == *" $word "* ]] && expect=$word
    elif ((npos == 0)) && [[ " $subs " == *" $word "* ]]; then
      path=${path:+$path }$word
      _vlx_node "$path"
    else
      npos=$((npos + 1))
      named=${named:+$named }$word
      positional+=("$word")
    fi
  done
  COMPREPLY=()
  if [[ -n $expect ]]; then
    _vlx_value "$path" "$expect"
  elif [[ $cur == -* ]]; then
    words=$opts
  else
    ((npos == 0)) && words=$subs
    local -a kinds
    read -ra kinds <<<"$args"
    if ((npos < ${#kinds[@]})); then
      kind=${kinds[npos]}
    elif ((${#kinds[@]})) && [[ ${kinds[${#kinds[@]} - 1]} == *'*' ]]; then
      kind=${kinds[${#kinds[@]} - 1]}
    fi
    kind=${kind%'*'}
    ((npos > 0 && npos <= ${#kinds[@]})) && before=${kinds[npos - 1]%'*'}
  fi
  [[ -n $words ]] && mapfile -t COMPREPLY < <(compgen -W "$words" -- "$cur")
  case $kind in
  file | dir)
    compopt -o filenames 2>/dev/null
    local flag=-f
    [[ $kind == dir ]] && flag=-d
    mapfile -t -O ${#COMPREPLY[@]} COMPREPLY < <(compgen "$flag" -- "$cur")
    ;;
  key | section) _vlx_store "${1:-vlx}" "$kind" "$cur" ;;
  value)
    # The names of the values in the section or key just before.
    [[ $before == section || $before == key ]] &&
      _vlx_store "${1:-vlx}" "value-$before" "$cur" "${positional[npos - 1]}"
    ;;
  command)
    # The words of a command path (`help reg import`): what follows those given so far.
    local subs
    _vlx_node "$named"
    mapfile -t COMPREPLY < <(compgen -W "$subs" -- "$cur")
    ;;
  esac
  return 0
}
complete -F _vlx vlx
)bash";

void writeBashCompletion(std::ostream &out, const CLI::App &app) {
  CompletionTables tables;
  completionEntries(tables, app, "");
  out << "# bash completion for vlx, written by `vlx __bash-completion` from the tool's command "
         "tree.\n\n"
         "# What may follow the command words $1: subcommands, options, the options that take a\n"
         "# value, and what each argument is (file, dir, key, section, value; - for anything).\n"
         "_vlx_node() {\n  case $1 in\n"
      << tables.nodes
      << "  *) subs='' opts='' valued='' args='' ;;\n  esac\n}\n\n"
         "# The value of option $2 after the command words $1: words to choose from, or a kind.\n"
         "_vlx_value() {\n  words='' kind=-\n  case \"$1|$2\" in\n"
      << tables.values << "  esac\n}\n"
      << kCompletionMain;
}

bool startsNoCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() &&
         std::equal(prefix.begin(), prefix.end(), text.begin(), [](char a, char b) {
           return std::tolower(static_cast<unsigned char>(a)) ==
                  std::tolower(static_cast<unsigned char>(b));
         });
}

// The subkeys of `subKey` below `root` whose names start with `prefix`; none when it cannot be
// read.
std::vector<std::string> subkeysStarting(HKEY root, const std::string &subKey,
                                         std::string_view prefix) {
  std::vector<std::string> names;
  Key key;
  if (openKey(root, subKey, KEY_READ, key) != ERROR_SUCCESS)
    return names;
  std::string name(1024, '\0');
  for (DWORD i = 0;; ++i) {
    DWORD chars = static_cast<DWORD>(name.size());
    LONG rc = RegEnumKeyExA(key.get(), i, name.data(), &chars, nullptr, nullptr, nullptr, nullptr);
    if (rc == ERROR_NO_MORE_ITEMS)
      break;
    if (rc == ERROR_SUCCESS && startsNoCase(std::string_view(name.data(), chars), prefix))
      names.emplace_back(name.data(), chars);
    else if (rc != ERROR_SUCCESS && rc != ERROR_MORE_DATA)
      break;
  }
  return names;
}

void completeKey(std::ostream &out, const std::string &word) {
  size_t last = word.rfind('\\');
  if (last == std::string::npos) {
    static const char *const roots[] = {"HKEY_CLASSES_ROOT",
                                        "HKEY_CURRENT_USER",
                                        "HKEY_LOCAL_MACHINE",
                                        "HKEY_USERS",
                                        "HKEY_CURRENT_CONFIG",
                                        "HKCR",
                                        "HKCU",
                                        "HKLM",
                                        "HKU",
                                        "HKCC"};
    for (const char *root : roots) {
      reg::KeyPath path;
      std::string why;
      if (startsNoCase(root, word) && reg::parseKeyPath(root, path, why))
        out << root << '\n';
    }
    return;
  }
  std::string parent = word.substr(0, last);
  reg::KeyPath path;
  std::string why;
  if (!reg::parseKeyPath(parent, path, why))
    return;
  for (const std::string &name :
       subkeysStarting(rootHandle(path.root), path.subKey, std::string_view(word).substr(last + 1)))
    out << parent << '\\' << name << '\n';
}

// The value names of `subKey` below `root` that start with `prefix`, in any letter case.
void addValueNames(std::set<std::string> &names, HKEY root, const std::string &subKey,
                   const std::string &prefix) {
  Key key;
  std::vector<reg::Value> values;
  if (openKey(root, subKey, KEY_READ, key) != ERROR_SUCCESS ||
      readValues(key.get(), values) != ERROR_SUCCESS)
    return;
  for (const reg::Value &v : values)
    if (!v.name.empty() && startsNoCase(v.name, prefix))
      names.insert(v.name);
}

// The value names after a section (every hive's, each once) or after a key.
void completeValue(std::ostream &out, std::string_view kind, const std::string &context,
                   const std::string &word) {
  std::set<std::string> names;
  if (kind == "value-section") {
    for (auto [root, key] : {std::pair{HKEY_CURRENT_USER, "Software\\Velmora\\"},
                             std::pair{HKEY_LOCAL_MACHINE, "Software\\Velmora\\"},
                             std::pair{HKEY_USERS, ".DEFAULT\\Software\\Velmora\\"}})
      addValueNames(names, root, key + context, word);
  } else {
    reg::KeyPath path;
    std::string why;
    if (reg::parseKeyPath(context, path, why))
      addValueNames(names, rootHandle(path.root), path.subKey, word);
  }
  for (const std::string &name : names)
    out << name << '\n';
}

// The sections of the preference fall-back: every hive's, each name once.
void completeSection(std::ostream &out, const std::string &word) {
  std::set<std::string> names;
  for (auto [root, key] : {std::pair{HKEY_CURRENT_USER, "Software\\Velmora"},
                           std::pair{HKEY_LOCAL_MACHINE, "Software\\Velmora"},
                           std::pair{HKEY_USERS, ".DEFAULT\\Software\\Velmora"}})
    for (std::string &name : subkeysStarting(root, key, word))
      names.insert(std::move(name));
  for (const std::string &name : names)
    out << name << '\n';
}

} // namespace

std::optional<int> runGenerator(const CLI::App &app, int argc, const char *const *argv,
                                std::ostream &out) {
  if (argc < 2)
    return std::nullopt;
  std::string_view call = argv[1];
  if (call == "__man" && argc == 3) {
    writeManPage(out, app, argv[2]);
  } else if (call == "__bash-completion" && argc == 2) {
    writeBashCompletion(out, app);
  } else if (call == "__complete" && argc == 4 && std::string_view(argv[2]) == "key") {
    completeKey(out, argv[3]);
  } else if (call == "__complete" && argc == 4 && std::string_view(argv[2]) == "section") {
    completeSection(out, argv[3]);
  } else if (call == "__complete" && argc == 5 &&
             (std::string_view(argv[2]) == "value-section" ||
              std::string_view(argv[2]) == "value-key")) {
    completeValue(out, argv[2], argv[3], argv[4]);
  } else {
    return std::nullopt;
  }
  out << std::flush;
  return out ? 0 : 1;
}

} // namespace vlx::cli
