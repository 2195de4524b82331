// The texts of the interface in Chinese or English, chosen once at start from
// the system's install language.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace zelk::app {

struct LanguageTexts {
    std::u16string StartText;
    std::u16string AdminText;
    std::u16string ReadyText;
    std::u16string InProgressText;
    std::u16string SuccessText;
    // Shown when Start is pressed while a run is still going.
    std::u16string BusyText;
    bool ChineseUi = false;
};

inline constexpr std::uint32_t kEnglishLanguageId = 1033;

// Chinese for the identifiers 1028, 2052, 3076, 4100 and 5124; English for any
// other, and when the language cannot be read.
LanguageTexts ChooseLanguage(std::optional<std::uint32_t> languageId);

}  // namespace zelk::app
