#include "app/platform/linux/code_page.h"

#include <iconv.h>

#include <array>
#include <cerrno>

#include "app/text/text_encoding.h"

namespace zelk::app::platform {
namespace {

bool IsHighSurrogate(char16_t unit) {
    return unit >= 0xD800 && unit <= 0xDBFF;
}

bool IsLowSurrogate(char16_t unit) {
    return unit >= 0xDC00 && unit <= 0xDFFF;
}

// The code points of `text` one at a time, each as UTF-8, or "?" for an
// unpaired surrogate.
template <typename Visit>
void ForEachCharacter(std::u16string_view text, Visit visit) {
    std::size_t i = 0;
    while (i < text.size()) {
        std::size_t length = 1;
        if (IsHighSurrogate(text[i]) && i + 1 < text.size() && IsLowSurrogate(text[i + 1])) {
            length = 2;
        } else if (IsHighSurrogate(text[i]) || IsLowSurrogate(text[i])) {
            visit(std::string("?"));
            ++i;
            continue;
        }
        visit(Utf16ToUtf8(text.substr(i, length)));
        i += length;
    }
}

class Converter {
  public:
    explicit Converter(const char* codeset) : handle_(iconv_open(codeset, "UTF-8")) {}
    ~Converter() {
        if (Usable()) {
            iconv_close(handle_);
        }
    }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;

    bool Usable() const { return handle_ != reinterpret_cast<iconv_t>(-1); }

    // Appends one character; false when the codeset cannot hold it (nothing
    // is appended then and the shift state is as before).
    bool Append(const std::string& utf8, std::string& out) {
        std::string input = utf8;
        char* in = input.data();
        std::size_t inLeft = input.size();
        std::array<char, 64> buffer{};
        char* next = buffer.data();
        std::size_t outLeft = buffer.size();
        if (iconv(handle_, &in, &inLeft, &next, &outLeft) == static_cast<std::size_t>(-1)) {
            return false;
        }
        out.append(buffer.data(), static_cast<std::size_t>(next - buffer.data()));
        return true;
    }

    // The bytes that return a stateful codeset to its initial state.
    void Finish(std::string& out) {
        std::array<char, 64> buffer{};
        char* next = buffer.data();
        std::size_t outLeft = buffer.size();
        if (iconv(handle_, nullptr, nullptr, &next, &outLeft) != static_cast<std::size_t>(-1)) {
            out.append(buffer.data(), static_cast<std::size_t>(next - buffer.data()));
        }
    }

  private:
    iconv_t handle_;
};

}  // namespace

std::string ToUtf8WithQuestionMarks(std::u16string_view text) {
    std::string out;
    ForEachCharacter(text, [&out](const std::string& utf8) { out += utf8; });
    return out;
}

std::optional<std::string> ToCodeset(std::u16string_view text, const char* codeset) {
    Converter converter(codeset);
    if (!converter.Usable()) {
        return std::nullopt;
    }
    std::string out;
    ForEachCharacter(text, [&](const std::string& utf8) {
        // '?' goes through the converter too: in a shifted state of a
        // stateful codeset a raw '?' byte would mean something else.
        if (!converter.Append(utf8, out) && !converter.Append("?", out)) {
            out.push_back('?');
        }
    });
    converter.Finish(out);
    return out;
}

}  // namespace zelk::app::platform
