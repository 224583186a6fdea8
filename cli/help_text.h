// Manual-style help for the program and each command, with the options
// listed from the parser's own definitions so that the two never disagree.
#pragma once

#include <string>

#include <CLI/CLI.hpp>

// NAME, SYNOPSIS, DESCRIPTION, OPTIONS, EXIT STATUS and more for `app`
// (the program or one of its commands).
std::string manual_page(const CLI::App *app);
