// Variables from files and from the command line, and where the history lives.
#pragma once

#include <set>
#include <string>
#include <string_view>
#include <utility>

// "name=value" split at the first '='; a usage error naming `option` when
// there is no '=' or no name.
std::pair<std::string, std::string> split_assignment(std::string_view text, const char *option);

// Sets the variables of a Postman environment or globals file (all its
// "values", as newman does, even those marked disabled) or of a flat JSON
// object. With `only_missing`, names already in
// the environment keep their value. `what` names the file in messages.
void load_variables_file(const std::string &path, const char *what, bool only_missing);

// Names the environment holds now.
std::set<std::string> environment_names();

// The history's directory: $QUORVANE_HOME, else $XDG_DATA_HOME/quorvane,
// else ~/.local/share/quorvane. Its parents are created when missing (the
// library creates the last level); "" when none can be found or made, with
// the reason in `why`.
std::string history_directory(std::string &why);
