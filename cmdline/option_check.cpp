#include "cmdline/option_check.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <vector>

#include "platform/text.h"

namespace lnk {
namespace {

// Insertions, deletions, substitutions and swaps of neighbours, each one
// slip (the optimal string alignment distance).
size_t edit_distance(const std::string& a, const std::string& b) {
  std::vector<std::vector<size_t>> d(a.size() + 1, std::vector<size_t>(b.size() + 1));
  for (size_t i = 0; i <= a.size(); ++i) d[i][0] = i;
  for (size_t j = 0; j <= b.size(); ++j) d[0][j] = j;
  for (size_t i = 1; i <= a.size(); ++i) {
    for (size_t j = 1; j <= b.size(); ++j) {
      d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + (a[i - 1] == b[j - 1] ? 0 : 1)});
      if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1]) d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
    }
  }
  return d[a.size()][b.size()];
}

// Digits only, in the forms the number parser reads whole: "12x34" or
// "67584s" would be read as some other number, or as none, and the run
// would go on at a place the examiner never named.
bool strict_number(const std::string& text, uint64_t& value) {
  const std::string t = to_lower_ascii(trim_blanks(text));
  size_t digits = 0;
  int base = 10;
  if (t.rfind("0x", 0) == 0) base = 16, digits = 2;
  else if (t.rfind("0o", 0) == 0) base = 8, digits = 2;
  if (t.size() == digits) return false;
  for (size_t i = digits; i < t.size(); ++i) {
    const char c = t[i];
    const bool ok = base == 16 ? std::isxdigit(static_cast<unsigned char>(c)) != 0 : c >= '0' && c < '0' + base;
    if (!ok) return false;
  }
  return parse_number(t, value);
}

constexpr uint64_t kMostThreads = 256;

// Empty when the value is one the option takes; else the forms it takes.
std::string accepted_forms(const std::string& option, const std::string& value) {
  uint64_t number = 0;
  const bool is_number = strict_number(value, number);
  if (option == "-offset")
    return is_number ? "" : "a byte offset in decimal, 0x hexadecimal or 0o octal (32256, 0x7e00, 0o77000)";
  if (option == "-threads")
    return is_number && number >= 1 && number <= kMostThreads ? "" : "a whole number from 1 to 256";
  if (option == "-vss")
    return (is_number && number >= 1 && number <= UINT32_MAX) || to_lower_ascii(value) == "all"
               ? ""
               : "a shadow copy number (1 is the oldest) or all";
  if (option == "-cpuinst" || option == "-cpu" || option == "-fragment_files")
    return is_number && number <= INT32_MAX ? "" : "a whole number";
  return "";
}

}  // namespace

std::string value_problem(const std::string& option, const std::string& value) {
  const std::string forms = accepted_forms(to_lower_ascii(option), value);
  if (forms.empty()) return {};
  return "invalid value for " + option + ": " + value + " (accepted: " + forms + "), aborting\n";
}

std::string nearest_option(const std::string& word) {
  const std::string lower = to_lower_ascii(word);
  std::string best;
  size_t best_distance = SIZE_MAX;
  // "--version" is the one word with two dashes: "-version" means it.
  std::vector<std::string> names = option_names();
  names.push_back("--version");
  for (const std::string& name : names) {
    const size_t distance = edit_distance(lower, name);
    if (distance < best_distance) {
      best = name;
      best_distance = distance;
    }
  }
  // Two slips at most, and fewer than half the word: "-foo" is no "-out".
  if (best_distance > 2 || 2 * best_distance >= lower.size()) return {};
  return best;
}

CommandLineCheck check_command_line(const ArgList& args) {
  CommandLineCheck check;
  check.end_of_options = args.size();
  for (size_t i = 1; i < args.size(); ++i) {
    const std::string& word = args[i];
    if (word == "--") {
      check.end_of_options = i;
      break;
    }
    bool takes_value = false;
    if (known_option(to_lower_ascii(word), takes_value)) {
      if (!takes_value) continue;
      // A value that is an option's name is no value: the run would read
      // the two words one way or the other depending on the options' order.
      bool next_is_option = false;
      if (i + 1 >= args.size() || known_option(to_lower_ascii(args[i + 1]), next_is_option)) {
        check.problem = "option needs a value: " + word + "\n";
        break;
      }
      check.problem = value_problem(word, args[++i]);
      if (!check.problem.empty()) break;
      continue;
    }
    if (word.empty() || word[0] != '-') continue;
    check.problem = "unknown option: " + word;
    if (const std::string near = nearest_option(word); !near.empty()) check.problem += " (did you mean " + near + "?)";
    check.problem += "\n";
    break;
  }
  return check;
}

}  // namespace lnk
