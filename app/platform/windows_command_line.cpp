#include "app/platform/windows_command_line.h"

namespace zelk::app {
namespace {

bool NeedsQuotes(std::u16string_view argument) {
    return argument.empty() || argument.find_first_of(u" \t\n\v\"") != std::u16string_view::npos;
}

void AppendArgument(std::u16string& line, std::u16string_view argument) {
    if (!NeedsQuotes(argument)) {
        line += argument;
        return;
    }
    line += u'"';
    std::size_t backslashes = 0;
    for (const char16_t c : argument) {
        if (c == u'\\') {
            ++backslashes;
            continue;
        }
        if (c == u'"') {
            // Each backslash before a quote is escaped, then the quote.
            line.append(backslashes * 2 + 1, u'\\');
        } else {
            line.append(backslashes, u'\\');
        }
        backslashes = 0;
        line += c;
    }
    // Backslashes before the closing quote would escape it.
    line.append(backslashes * 2, u'\\');
    line += u'"';
}

}  // namespace

std::u16string WindowsCommandLine(std::u16string_view program,
                                  const std::vector<std::u16string>& arguments) {
    std::u16string line = u"\"";
    line += program;
    line += u'"';
    for (const std::u16string& argument : arguments) {
        line += u' ';
        AppendArgument(line, argument);
    }
    return line;
}

}  // namespace zelk::app
