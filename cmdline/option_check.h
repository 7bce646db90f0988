// A command line is checked whole before the run touches anything: a word
// that looks like an option but is none, or an option without its value,
// ends the run, so a typing slip never becomes an input name or a run
// without the layout asked for.
#pragma once

#include <cstddef>
#include <string>

#include "cmdline/options.h"

namespace lnk {

struct CommandLineCheck {
  // "unknown option: --csv (did you mean -csv?)\n"; empty when the line is fine.
  std::string problem;
  // Where a "--" that is no option's value stands (the words after it are
  // names, whatever they look like); args.size() when there is none.
  size_t end_of_options = 0;
};

// Looks at args from element 1 on; an option's value is the word after it,
// whatever it looks like, unless that word is an option.
CommandLineCheck check_command_line(const ArgList& args);

// "invalid value for -offset: banana (accepted: ...), aborting\n" when the
// value is not one of the forms the option takes; empty otherwise.
std::string value_problem(const std::string& option, const std::string& value);

// The option nearest to word by edit distance, ignoring case; empty when
// none is near enough to be the one meant.
std::string nearest_option(const std::string& word);

}  // namespace lnk
