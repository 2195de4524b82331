// The locale's codeset stands in for Windows' ANSI code page. The program
// chooses its locale (setlocale at start); this reads whatever is current.

#include <langinfo.h>
#include <strings.h>

#include <string>

#include "app/platform/linux/code_page.h"
#include "app/platform/platform.h"

namespace zelk::app::platform {
namespace {

// UTF-8 for the C locale as well: its codeset (ANSI_X3.4-1968) holds only
// ASCII, where UTF-8 agrees with it, and anything beyond ASCII typed on a
// Linux desktop arrived as UTF-8 anyway.
bool WritesUtf8(const std::string& codeset) {
    return codeset.empty() || strcasecmp(codeset.c_str(), "UTF-8") == 0 ||
           strcasecmp(codeset.c_str(), "UTF8") == 0 ||
           strcasecmp(codeset.c_str(), "ANSI_X3.4-1968") == 0 ||
           strcasecmp(codeset.c_str(), "ASCII") == 0;
}

}  // namespace

std::string ToAnsiBytes(std::u16string_view text) {
    const char* current = nl_langinfo(CODESET);
    const std::string codeset = current == nullptr ? std::string() : std::string(current);
    if (!WritesUtf8(codeset)) {
        if (auto converted = ToCodeset(text, codeset.c_str())) {
            return *std::move(converted);
        }
        // A codeset iconv does not know: UTF-8, as for the C locale.
    }
    return ToUtf8WithQuestionMarks(text);
}

}  // namespace zelk::app::platform
