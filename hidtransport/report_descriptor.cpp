#include "hidtransport/report_descriptor.h"

#include <algorithm>
#include <optional>
#include <utility>

namespace zelk::hid {
namespace {

// Limits that keep memory bounded whatever the device sends. Real descriptors
// stay far below them.
constexpr std::size_t kMaxTopLevelCollections = 64;
constexpr std::size_t kMaxLinkCollections = 1024;
constexpr std::size_t kMaxCapsPerCollection = 4096;
constexpr std::size_t kMaxUsagesPerItem = 4096;
constexpr std::size_t kGlobalStackDepth = 16;
constexpr std::uint32_t kMaxDataFieldBits = 32;
// A report length counts the report-ID byte and must fit 16 bits.
constexpr std::uint64_t kMaxReportBits = (0xFFFFull - 1) * 8;

constexpr std::uint8_t kLongItemPrefix = 0xFE;

enum class ItemType : std::uint8_t { Main = 0, Global = 1, Local = 2, Reserved = 3 };

namespace main_tag {
constexpr std::uint8_t kInput = 0x8;
constexpr std::uint8_t kOutput = 0x9;
constexpr std::uint8_t kCollection = 0xA;
constexpr std::uint8_t kFeature = 0xB;
constexpr std::uint8_t kEndCollection = 0xC;
}  // namespace main_tag

namespace global_tag {
constexpr std::uint8_t kUsagePage = 0x0;
constexpr std::uint8_t kReportSize = 0x7;
constexpr std::uint8_t kReportId = 0x8;
constexpr std::uint8_t kReportCount = 0x9;
constexpr std::uint8_t kPush = 0xA;
constexpr std::uint8_t kPop = 0xB;
}  // namespace global_tag

namespace local_tag {
constexpr std::uint8_t kUsage = 0x0;
constexpr std::uint8_t kUsageMinimum = 0x1;
constexpr std::uint8_t kUsageMaximum = 0x2;
}  // namespace local_tag

constexpr std::uint32_t kMainConstant = 0x01;
constexpr std::uint32_t kMainVariable = 0x02;

struct Item {
    std::size_t offset = 0;
    ItemType type = ItemType::Main;
    std::uint8_t tag = 0;
    std::uint8_t dataSize = 0;  // 0, 1, 2 or 4
    std::uint32_t value = 0;    // little-endian data, zero-extended
};

// Logical and physical extents, units and exponents do not shape the
// capabilities this parser reports, so only these globals are kept.
struct Globals {
    std::uint16_t usagePage = 0;
    std::uint32_t reportSize = 0;
    std::uint32_t reportCount = 0;
    std::uint8_t reportId = 0;
};

// A usage as declared. Short forms take the usage page in effect at the main
// item; the 4-byte form carries its own page in the upper 16 bits.
struct DeclaredUsage {
    std::uint32_t value = 0;
    bool extended = false;

    std::uint16_t Page(std::uint16_t current) const {
        return extended ? static_cast<std::uint16_t>(value >> 16) : current;
    }
    std::uint16_t Id() const { return static_cast<std::uint16_t>(value & 0xFFFF); }
};

struct UsageEntry {
    DeclaredUsage first;
    std::optional<DeclaredUsage> last;  // set for a minimum/maximum pair
};

struct Locals {
    std::vector<UsageEntry> usages;
    std::optional<DeclaredUsage> minimum;
    std::optional<DeclaredUsage> maximum;
};

struct ReportBits {
    std::uint8_t id = 0;
    std::uint64_t bits = 0;
};

// A top-level collection while its items are being read.
struct OpenCollection {
    std::size_t offset = 0;
    ParsedCollection result;
    std::vector<ReportBits> reports[3];
    std::vector<std::uint16_t> linkStack;
    std::size_t linkCount = 0;
    std::size_t capCount = 0;
};

const char* TypeName(std::size_t type) {
    static constexpr const char* kNames[] = {"input", "output", "feature"};
    return kNames[type];
}

std::uint16_t ToU16(std::size_t value) {
    return static_cast<std::uint16_t>(value);
}

std::uint16_t ByteLength(const std::vector<ReportBits>& reports) {
    if (reports.empty()) {
        return 0;
    }
    std::uint64_t bits = 0;
    for (const ReportBits& report : reports) {
        bits = std::max(bits, report.bits);
    }
    return static_cast<std::uint16_t>(1 + (bits + 7) / 8);
}

ParsedCollection Finish(OpenCollection& open) {
    ParsedCollection& parsed = open.result;
    for (std::size_t type = 0; type < 3; ++type) {
        for (const ReportBits& report : open.reports[type]) {
            parsed.reportIds[type].push_back(report.id);
        }
    }
    HidCaps& caps = parsed.caps;
    caps.InputReportByteLength = ByteLength(open.reports[0]);
    caps.OutputReportByteLength = ByteLength(open.reports[1]);
    caps.FeatureReportByteLength = ByteLength(open.reports[2]);
    caps.NumberInputButtonCaps = ToU16(parsed.buttonCaps[0].size());
    caps.NumberInputValueCaps = ToU16(parsed.valueCaps[0].size());
    caps.NumberOutputButtonCaps = ToU16(parsed.buttonCaps[1].size());
    caps.NumberOutputValueCaps = ToU16(parsed.valueCaps[1].size());
    caps.NumberFeatureButtonCaps = ToU16(parsed.buttonCaps[2].size());
    caps.NumberFeatureValueCaps = ToU16(parsed.valueCaps[2].size());
    return std::move(open.result);
}

class Parser {
  public:
    Parser(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

    bool Run(std::vector<ParsedCollection>& out) {
        std::size_t offset = 0;
        while (offset < size_) {
            Item item;
            std::size_t length = 0;
            if (!ReadItem(offset, item, length) || !Apply(item)) {
                return false;
            }
            offset += length;
        }
        return Close(out);
    }

    const std::string& Error() const { return error_; }

  private:
    bool Fail(std::size_t offset, const std::string& message) {
        error_ = "byte " + std::to_string(offset) + ": " + message;
        return false;
    }

    // Decodes the item at `offset` and sets `length` to its size in bytes. Long
    // items carry nothing this parser uses and come back as a reserved item.
    bool ReadItem(std::size_t offset, Item& item, std::size_t& length) {
        const std::size_t left = size_ - offset;
        const std::uint8_t prefix = data_[offset];
        if (prefix == kLongItemPrefix) {
            if (left < 3 || left - 3 < data_[offset + 1]) {
                return Fail(offset, "truncated long item");
            }
            length = 3 + std::size_t{data_[offset + 1]};
            item.type = ItemType::Reserved;
            return true;
        }
        static constexpr std::uint8_t kDataSizes[] = {0, 1, 2, 4};
        item.offset = offset;
        item.dataSize = kDataSizes[prefix & 0x3];
        item.type = static_cast<ItemType>((prefix >> 2) & 0x3);
        item.tag = static_cast<std::uint8_t>(prefix >> 4);
        if (left - 1 < item.dataSize) {
            return Fail(offset, "truncated item");
        }
        for (std::size_t i = 0; i < item.dataSize; ++i) {
            item.value |= std::uint32_t{data_[offset + 1 + i]} << (8 * i);
        }
        length = 1 + std::size_t{item.dataSize};
        return true;
    }

    bool Apply(const Item& item) {
        switch (item.type) {
            case ItemType::Main:
                return ApplyMain(item);
            case ItemType::Global:
                return ApplyGlobal(item);
            case ItemType::Local:
                return ApplyLocal(item);
            case ItemType::Reserved:
                return true;
        }
        return true;
    }

    bool ApplyMain(const Item& item) {
        bool ok = true;
        switch (item.tag) {
            case main_tag::kCollection:
                ok = BeginCollection(item);
                break;
            case main_tag::kEndCollection:
                ok = EndCollection(item);
                break;
            case main_tag::kInput:
                ok = AddField(item, 0);
                break;
            case main_tag::kOutput:
                ok = AddField(item, 1);
                break;
            case main_tag::kFeature:
                ok = AddField(item, 2);
                break;
            default:
                break;
        }
        locals_ = Locals{};
        return ok;
    }

    bool ApplyGlobal(const Item& item) {
        switch (item.tag) {
            case global_tag::kUsagePage:
                globals_.usagePage = static_cast<std::uint16_t>(item.value & 0xFFFF);
                return true;
            case global_tag::kReportSize:
                globals_.reportSize = item.value;
                return true;
            case global_tag::kReportCount:
                globals_.reportCount = item.value;
                return true;
            case global_tag::kReportId:
                return SetReportId(item);
            case global_tag::kPush:
                return Push(item);
            case global_tag::kPop:
                return Pop(item);
            default:
                return true;
        }
    }

    bool SetReportId(const Item& item) {
        if (item.value == 0) {
            return Fail(item.offset, "Report ID 0 is reserved");
        }
        if (item.value > 0xFF) {
            return Fail(item.offset, "Report ID " + std::to_string(item.value) + " above 255");
        }
        globals_.reportId = static_cast<std::uint8_t>(item.value);
        return true;
    }

    bool Push(const Item& item) {
        if (globalStack_.size() == kGlobalStackDepth) {
            return Fail(item.offset,
                        "Push beyond " + std::to_string(kGlobalStackDepth) + " levels");
        }
        globalStack_.push_back(globals_);
        return true;
    }

    bool Pop(const Item& item) {
        if (globalStack_.empty()) {
            return Fail(item.offset, "Pop without Push");
        }
        globals_ = globalStack_.back();
        globalStack_.pop_back();
        return true;
    }

    bool ApplyLocal(const Item& item) {
        const DeclaredUsage usage{item.value, item.dataSize == 4};
        switch (item.tag) {
            case local_tag::kUsage:
                return AddUsage(item, UsageEntry{usage, std::nullopt});
            case local_tag::kUsageMinimum:
                return AddBound(item, usage, locals_.minimum, locals_.maximum);
            case local_tag::kUsageMaximum:
                return AddBound(item, usage, locals_.maximum, locals_.minimum);
            default:
                return true;
        }
    }

    bool AddUsage(const Item& item, const UsageEntry& entry) {
        if (locals_.usages.size() == kMaxUsagesPerItem) {
            return Fail(item.offset, "more than " + std::to_string(kMaxUsagesPerItem) +
                                         " usages for one main item");
        }
        locals_.usages.push_back(entry);
        return true;
    }

    // Pairs a Usage Minimum with a Usage Maximum in either order. A bound
    // repeated before its partner turns the earlier one into a single usage.
    bool AddBound(const Item& item, const DeclaredUsage& usage, std::optional<DeclaredUsage>& same,
                  std::optional<DeclaredUsage>& partner) {
        if (same && !AddUsage(item, UsageEntry{*same, std::nullopt})) {
            return false;
        }
        same = usage;
        if (!partner) {
            return true;
        }
        UsageEntry range{*locals_.minimum, locals_.maximum};
        locals_.minimum.reset();
        locals_.maximum.reset();
        return AddUsage(item, range);
    }

    // Bounds that never found a partner count as single usages.
    bool FlushUnpairedBounds(const Item& item) {
        for (std::optional<DeclaredUsage>* bound : {&locals_.minimum, &locals_.maximum}) {
            if (*bound && !AddUsage(item, UsageEntry{**bound, std::nullopt})) {
                return false;
            }
            bound->reset();
        }
        return true;
    }

    bool BeginCollection(const Item& item) {
        if (!open_) {
            return BeginTopLevel(item);
        }
        if (open_->linkCount == kMaxLinkCollections) {
            return Fail(item.offset, "more than " + std::to_string(kMaxLinkCollections) +
                                         " collections in one top-level collection");
        }
        open_->linkStack.push_back(ToU16(open_->linkCount++));
        return true;
    }

    bool BeginTopLevel(const Item& item) {
        if (done_.size() == kMaxTopLevelCollections) {
            return Fail(item.offset, "more than " + std::to_string(kMaxTopLevelCollections) +
                                         " top-level collections");
        }
        if (!FlushUnpairedBounds(item)) {
            return false;
        }
        open_.emplace();
        open_->offset = item.offset;
        open_->linkStack.push_back(0);
        open_->linkCount = 1;
        if (!locals_.usages.empty()) {
            const DeclaredUsage& usage = locals_.usages.back().first;
            open_->result.caps.UsagePage = usage.Page(globals_.usagePage);
            open_->result.caps.Usage = usage.Id();
        }
        return true;
    }

    bool EndCollection(const Item& item) {
        if (!open_) {
            return Fail(item.offset, "End Collection without Collection");
        }
        open_->linkStack.pop_back();
        if (open_->linkStack.empty()) {
            done_.push_back(Finish(*open_));
            open_.reset();
        }
        return true;
    }

    // Accounts an Input, Output or Feature item in its report and, for data
    // items, adds its capabilities. Items outside a top-level collection belong
    // to no collection and are skipped.
    bool AddField(const Item& item, std::size_t type) {
        if (!open_) {
            return true;
        }
        const bool constant = (item.value & kMainConstant) != 0;
        if (!constant && globals_.reportSize > kMaxDataFieldBits) {
            return Fail(item.offset, "Report Size " + std::to_string(globals_.reportSize) +
                                         " above " + std::to_string(kMaxDataFieldBits) +
                                         " bits in a data item");
        }
        const std::uint64_t bits = std::uint64_t{globals_.reportSize} * globals_.reportCount;
        if (bits == 0) {
            return true;
        }
        if (!AddBits(item, type, bits)) {
            return false;
        }
        return constant || AddCapabilities(item, type);
    }

    bool AddBits(const Item& item, std::size_t type, std::uint64_t bits) {
        std::vector<ReportBits>& reports = open_->reports[type];
        auto report = std::find_if(reports.begin(), reports.end(),
                                   [&](const ReportBits& r) { return r.id == globals_.reportId; });
        if (report == reports.end()) {
            report = reports.insert(reports.end(), ReportBits{globals_.reportId, 0});
        }
        if (bits > kMaxReportBits - report->bits) {
            return Fail(item.offset, std::string(TypeName(type)) + " report " +
                                         std::to_string(report->id) + " longer than 65534 bytes");
        }
        report->bits += bits;
        return true;
    }

    bool AddCapabilities(const Item& item, std::size_t type) {
        if (!FlushUnpairedBounds(item)) {
            return false;
        }
        const bool variable = (item.value & kMainVariable) != 0;
        const bool button = !variable || globals_.reportSize == 1;
        if (locals_.usages.empty()) {
            return AddCapability(item, type, button, UsageEntry{});
        }
        // A variable item has one field per usage: usages beyond the count
        // have no field, and the last usage covers any fields left over. An
        // array item may select any of its usages.
        std::uint64_t fieldsLeft = globals_.reportCount;
        for (const UsageEntry& entry : locals_.usages) {
            if (!AddCapability(item, type, button, entry)) {
                return false;
            }
            const std::uint64_t fields = entry.last ? Span(entry) : 1;
            if (variable && fields >= fieldsLeft) {
                break;
            }
            fieldsLeft -= std::min(fields, fieldsLeft);
        }
        return true;
    }

    static std::uint64_t Span(const UsageEntry& entry) {
        const std::uint16_t a = entry.first.Id();
        const std::uint16_t b = entry.last->Id();
        return std::uint64_t{std::max(a, b)} - std::min(a, b) + 1;
    }

    bool AddCapability(const Item& item, std::size_t type, bool button, const UsageEntry& entry) {
        if (open_->capCount == kMaxCapsPerCollection) {
            return Fail(item.offset, "more than " + std::to_string(kMaxCapsPerCollection) +
                                         " capabilities in one collection");
        }
        ++open_->capCount;
        HidCapability cap;
        cap.ReportId = globals_.reportId;
        cap.UsagePage = entry.first.Page(globals_.usagePage);
        cap.UsageMin = entry.first.Id();
        cap.UsageMax = entry.first.Id();
        if (entry.last) {
            cap.IsRange = true;
            cap.UsageMin = std::min(entry.first.Id(), entry.last->Id());
            cap.UsageMax = std::max(entry.first.Id(), entry.last->Id());
        }
        cap.LinkCollection = open_->linkStack.back();
        ParsedCollection& parsed = open_->result;
        (button ? parsed.buttonCaps : parsed.valueCaps)[type].push_back(cap);
        return true;
    }

    bool Close(std::vector<ParsedCollection>& out) {
        if (open_) {
            return Fail(size_, "collection opened at byte " + std::to_string(open_->offset) +
                                   " is not closed");
        }
        if (done_.empty()) {
            return Fail(size_, "no top-level collection");
        }
        out = std::move(done_);
        return true;
    }

    const std::uint8_t* data_;
    std::size_t size_;
    std::string error_;
    Globals globals_;
    std::vector<Globals> globalStack_;
    Locals locals_;
    std::optional<OpenCollection> open_;
    std::vector<ParsedCollection> done_;
};

bool ValidType(HidReportType type) {
    return static_cast<std::uint32_t>(type) < 3;
}

std::size_t Index(HidReportType type) {
    return static_cast<std::size_t>(type);
}

}  // namespace

HidStatus ParsedCollection::GetCaps(HidCaps& out) const {
    out = caps;
    return kHidStatusSuccess;
}

HidStatus ParsedCollection::GetValueCaps(HidReportType type,
                                         std::vector<HidCapability>& out) const {
    if (!ValidType(type)) {
        return kHidStatusInvalidReportType;
    }
    out = valueCaps[Index(type)];
    return kHidStatusSuccess;
}

HidStatus ParsedCollection::GetButtonCaps(HidReportType type,
                                          std::vector<HidCapability>& out) const {
    if (!ValidType(type)) {
        return kHidStatusInvalidReportType;
    }
    out = buttonCaps[Index(type)];
    return kHidStatusSuccess;
}

HidStatus ParsedCollection::GetSpecificValueCaps(HidReportType type, std::uint16_t usagePage,
                                                 std::uint16_t linkCollection, std::uint16_t usage,
                                                 std::vector<HidCapability>& out) const {
    out.clear();
    if (!ValidType(type)) {
        return kHidStatusInvalidReportType;
    }
    for (const HidCapability& cap : valueCaps[Index(type)]) {
        const bool pageMatches = usagePage == 0 || cap.UsagePage == usagePage;
        const bool linkMatches = linkCollection == 0 || cap.LinkCollection == linkCollection;
        if (pageMatches && linkMatches && cap.Carries(usage)) {
            out.push_back(cap);
        }
    }
    return out.empty() ? kHidStatusUsageNotFound : kHidStatusSuccess;
}

std::vector<ParsedCollection> ParseReportDescriptor(const std::uint8_t* data, std::size_t size,
                                                    std::string& error) {
    error.clear();
    std::vector<ParsedCollection> collections;
    if (data == nullptr && size != 0) {
        error = "byte 0: no descriptor data";
        return collections;
    }
    Parser parser(data, size);
    if (!parser.Run(collections)) {
        error = parser.Error();
        collections.clear();
    }
    return collections;
}

}  // namespace zelk::hid
