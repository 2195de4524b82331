// Windows passes a program one command line, which the program's C runtime
// splits into argv. Building that line so each argument comes back whole is
// plain text work, kept here apart from CreateProcessW so it is tested on
// every build host.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace zelk::app {

// The program in quotes (argv[0] is split at the closing quote, without
// backslash escapes; a path cannot contain '"'), then each argument, quoted
// when it is empty or holds a blank, tab, line feed, vertical tab or '"', with
// the backslashes before a quote doubled so the MSVC runtime and
// CommandLineToArgvW give it back unchanged.
std::u16string WindowsCommandLine(std::u16string_view program,
                                  const std::vector<std::u16string>& arguments);

}  // namespace zelk::app
