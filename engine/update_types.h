// What an update is told and what it tells: the configuration of the device
// it looks for and talks to, the options of its offers and waits, and the
// progress it reports to a listener.
#pragma once

#include <cstdint>

#include "hidtransport/hid_device.h"

namespace zelk::engine {

// What the library looks for and how it talks to it.
struct UpdateConfiguration {
    std::uint16_t VendorId = 0;   // an interface path must carry VID_xxxx
    std::uint16_t ProductId = 0;  // an interface path must carry PID_xxxx
    std::uint16_t UsagePage = 0;  // top-level collection the interface must report
    std::uint16_t Usage = 0;
    // Resolve the five reports from the device's capabilities (with SetConfigEx
    // also the capability filter of the matching step).
    bool CheckReportCaps = false;
    // With the capability filter armed: keep only interfaces that carry the
    // version report's usage.
    bool RequireVersionCapsAtMatch = false;
    hid::ReportLayout VersionReport;          // feature, usage 0x62
    hid::ReportLayout OfferResponseReport;    // input, usage 0x8A
    hid::ReportLayout ContentResponseReport;  // input, usage 0x66
    hid::ReportLayout OfferReport;            // output, usage 0x8E
    hid::ReportLayout ContentReport;          // output, usage 0x61
};

// Adjusts every offer and answer wait of later updates.
struct UpdateOptions {
    bool ForceIgnoreVersion = false;   // offer byte 1 bit 7
    bool ForceImmediateReset = false;  // offer byte 1 bit 6
    bool OfferVendorFlag = false;      // offer byte 10 bit 2
    bool LongResponseWait = false;     // wait up to 2000 ms for each answer instead of 200 ms
};

// How the content transfer goes: Fine while it goes well and once it is done,
// otherwise the way it failed.
enum class TransferStatus : std::uint32_t {
    Fine = 0,
    ContentFailed = 10,
    SequenceMismatch = 11,
    WriteError = 12,
    NoResponse = 13,
};

inline constexpr std::uint16_t kNoImageTag = 0xFFFF;

struct UpdateProgress {
    std::uint8_t Percentage = 0;  // 0 to 100
    TransferStatus Status = TransferStatus::Fine;
    std::uint16_t ImageTag = kNoImageTag;  // the image whose offer was accepted last
};

// Hears an endpoint's progress, on the thread that runs the update; the
// listener carries whatever it needs to know which run it belongs to.
class ProgressListener {
  public:
    virtual ~ProgressListener() = default;
    virtual void OnProgress(std::uint64_t endpoint, const UpdateProgress& progress) = 0;
};

}  // namespace zelk::engine
