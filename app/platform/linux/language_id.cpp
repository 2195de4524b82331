// The install language identifier from the locale, so that the dialog texts
// chosen by it read the same as on Windows.

#include <cstdlib>
#include <string_view>

#include "app/platform/platform.h"

namespace zelk::app::platform {
namespace {

constexpr std::uint32_t kEnglishUnitedStates = 1033;
constexpr std::uint32_t kChineseSimplified = 2052;

struct LocaleLanguage {
    std::string_view locale;
    std::uint32_t id;
};

constexpr LocaleLanguage kChineseLocales[] = {
    {"zh", kChineseSimplified},
    {"zh_CN", kChineseSimplified},
    {"zh_TW", 1028},
    {"zh_HK", 3076},
    {"zh_SG", 4100},
    {"zh_MO", 5124},
};

// The locale that decides the language of messages, by the POSIX order; an
// empty variable counts as unset.
std::string_view MessagesLocale() {
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* value = std::getenv(name);
        if (value != nullptr && *value != '\0') {
            return value;
        }
    }
    return {};
}

}  // namespace

std::optional<std::uint32_t> LanguageId() {
    const std::string_view locale = MessagesLocale();
    if (locale.empty()) {
        return std::nullopt;
    }
    // "zh_TW.UTF-8", "zh_CN@stroke": the codeset and modifier do not change
    // the language.
    const std::string_view language = locale.substr(0, locale.find_first_of(".@"));
    for (const LocaleLanguage& entry : kChineseLocales) {
        if (language == entry.locale) {
            return entry.id;
        }
    }
    return kEnglishUnitedStates;
}

}  // namespace zelk::app::platform
