#include "cmdline/option_check.h"

#include <algorithm>
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

}  // namespace

std::string nearest_option(const std::string& word) {
  const std::string lower = to_lower_ascii(word);
  std::string best;
  size_t best_distance = SIZE_MAX;
  for (const std::string& name : option_names()) {
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
      ++i;
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
