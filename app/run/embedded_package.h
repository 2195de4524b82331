// The firmware package that the updater carries inside its own file: the
// offer, the payload and DeviceInfo.txt. At start they are written to the
// user's temporary directory; DeviceInfo.txt is then read back as the
// identity of the device to update (and the texts the dialog shows).
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "app/desktop/desktop.h"

namespace zelk::app {

// Which HID interface to update.
struct DeviceIdentity {
    std::uint16_t VendorId = 0;
    std::uint16_t ProductId = 0;
    std::uint16_t Usage = 0;
    std::uint16_t UsagePage = 0;
    std::uint8_t MiValue = 0;
};

// A directory of its own for one run of the program: created afresh (never
// an existing one) inside the temporary directory, readable by its owner
// only, and removed with everything in it when the last holder lets go. What
// one run writes there no other run writes, so the files a run updates from
// are the files it extracted.
class RunDirectory {
  public:
    // Empty when no directory could be created in `parent`.
    static std::shared_ptr<RunDirectory> Create(const std::u16string& parent);
    ~RunDirectory();
    RunDirectory(const RunDirectory&) = delete;
    RunDirectory& operator=(const RunDirectory&) = delete;

    // Ends in a path separator.
    const std::u16string& Path() const { return path_; }

  private:
    explicit RunDirectory(std::u16string path) : path_(std::move(path)) {}
    std::u16string path_;
};

// Where ExtractPackage wrote each file; empty when it did not.
struct PackagePaths {
    std::u16string OfferTempPath;
    std::u16string PayloadTempPath;
    std::u16string DeviceInfoPath;
    // Holds the offer, the payload and a copy of DeviceInfo.txt of this run.
    std::shared_ptr<RunDirectory> Run;
    // A resource of the package was missing, empty or damaged; a path left
    // empty without it means the file could not be written (temporary
    // directory missing, full, refused), which is to be told apart.
    bool PackageDamaged = false;
};

inline constexpr char16_t kOfferFileName[] = u"ImgPacketFile.offer.bin";
inline constexpr char16_t kPayloadFileName[] = u"ImgPacketFile.payload.bin";
inline constexpr char16_t kDeviceInfoFileName[] = u"DeviceInfo.txt";

// Writes the offer, the payload and the device information, in that order,
// under their fixed names and records each path: the offer and the payload in
// a RunDirectory of this run inside TempDirectory(), the device information
// to TempDirectory() itself (where the administrator's edits go) and a copy
// of it into the run directory, which ReadDeviceInfo reads. A
// resource that is missing, empty or damaged, or that cannot be written
// completely, is reported on stdout and in red in the log; its path stays
// empty, no file of that name is left behind, and the next one is tried.
void ExtractPackage(Desktop& desktop, PackagePaths& paths);

// What DeviceInfo.txt says: the five identifier lines as read (vendor id,
// product id, usage page, usage, interface number "MI"), the hide-window flag
// and the identity parsed from the same texts.
struct DeviceInfo {
    std::array<std::u16string, 5> texts;
    bool hideWindow = false;
    DeviceIdentity identity;
};

// Reads DeviceInfo.txt (this run's copy when ExtractPackage wrote one,
// otherwise the one in the temporary directory, composed again rather than
// taken from `paths`). Line 6, the hide-window flag, is decimal only: "1" sets
// it, anything else ("0x1" too) clears it. A missing line reads as empty. The
// text is read in the Chinese code page (936; GB18030 on Linux), in which the
// package writer writes it.
// When the file cannot be opened: a message box, and nothing.
std::optional<DeviceInfo> ReadDeviceInfo(Desktop& desktop, const PackagePaths& paths);

// A DeviceInfo number: text starting with "0x" (lower-case x) is hexadecimal,
// anything else signed decimal, both read as strtol reads them (leading
// blanks skipped for decimal, reading stops at the first character that is
// not a digit, no digits give 0). Out-of-range values saturate at the limits
// of a 32-bit long, as on the platform the file format comes from, so every
// platform reads a file alike.
std::int64_t ParseDeviceInfoNumber(std::u16string_view text);
// The same, decimal only ("0x1" gives 0): the hide-window line.
std::int64_t ParseDeviceInfoDecimal(std::u16string_view text);

// A parsed number cut to a field's width: its low bits, as an assignment to
// the narrower type keeps them ("-1" is 0xFFFF, 0x102 in 8 bits is 0x02).
inline std::uint16_t Low16(std::int64_t value) {
    return static_cast<std::uint16_t>(value);
}
inline std::uint8_t Low8(std::int64_t value) {
    return static_cast<std::uint8_t>(value);
}

}  // namespace zelk::app
