#include "capi/records.h"

#include <cstddef>

#include "hidtransport/byte_order.h"

namespace zelk::capi {
namespace {

hid::ReportLayout FromRecord(const ReportSpec& spec) {
    return {spec.ReportId, spec.Usage, spec.ReportLength,
            static_cast<hid::HidReportType>(spec.ReportType)};
}

ReportSpec ToRecord(const hid::ReportLayout& layout) {
    ReportSpec spec{};
    spec.ReportId = layout.ReportId;
    spec.Usage = layout.Usage;
    spec.ReportLength = layout.ReportLength;
    spec.ReportType = static_cast<std::uint32_t>(layout.ReportType);
    return spec;
}

void WriteComponentEntry(std::uint8_t* entry, const cfu::ComponentVersion& component) {
    WriteLe32(entry + offsetof(ComponentEntry, VersionPart1), component.Version.Part1);
    WriteLe32(entry + offsetof(ComponentEntry, VersionPart2), component.Version.Part2);
    WriteLe32(entry + offsetof(ComponentEntry, VersionPart4), component.Version.Part4);
    WriteLe32(entry + offsetof(ComponentEntry, VersionPart3), component.Version.Part3);
    WriteLe32(entry + offsetof(ComponentEntry, ComponentInfo), component.Info);
}

}  // namespace

engine::UpdateConfiguration FromRecord(const UpdateConfig& config) {
    engine::UpdateConfiguration out;
    out.VendorId = config.VendorId;
    out.ProductId = config.ProductId;
    out.UsagePage = config.UsagePage;
    out.Usage = config.Usage;
    out.CheckReportCaps = config.CheckReportCaps != 0;
    out.RequireVersionCapsAtMatch = config.RequireVersionCapsAtMatch != 0;
    out.VersionReport = FromRecord(config.VersionReport);
    out.OfferResponseReport = FromRecord(config.OfferResponseReport);
    out.ContentResponseReport = FromRecord(config.ContentResponseReport);
    out.OfferReport = FromRecord(config.OfferReport);
    out.ContentReport = FromRecord(config.ContentReport);
    return out;
}

UpdateConfig ToRecord(const engine::UpdateConfiguration& config) {
    UpdateConfig out{};
    out.VendorId = config.VendorId;
    out.ProductId = config.ProductId;
    out.UsagePage = config.UsagePage;
    out.Usage = config.Usage;
    out.CheckReportCaps = config.CheckReportCaps ? 1 : 0;
    out.RequireVersionCapsAtMatch = config.RequireVersionCapsAtMatch ? 1 : 0;
    out.VersionReport = ToRecord(config.VersionReport);
    out.OfferResponseReport = ToRecord(config.OfferResponseReport);
    out.ContentResponseReport = ToRecord(config.ContentResponseReport);
    out.OfferReport = ToRecord(config.OfferReport);
    out.ContentReport = ToRecord(config.ContentReport);
    return out;
}

engine::UpdateOptions FromRecord(const UpdateOptions& options) {
    engine::UpdateOptions out;
    out.ForceIgnoreVersion = options.ForceIgnoreVersion != 0;
    out.ForceImmediateReset = options.ForceImmediateReset != 0;
    out.OfferVendorFlag = options.OfferVendorFlag != 0;
    out.LongResponseWait = options.LongResponseWait != 0;
    return out;
}

UpdateStatus ToRecord(const engine::UpdateProgress& progress) {
    UpdateStatus out{};
    out.Percentage = progress.Percentage;
    out.Status = static_cast<std::uint32_t>(progress.Status);
    out.ImageTag = progress.ImageTag;
    return out;
}

void WriteDescription(const cfu::DeviceComponents& components, DeviceDescription& description) {
    auto* bytes = reinterpret_cast<std::uint8_t*>(&description);
    bytes[offsetof(DeviceDescription, ComponentCount)] = components.ComponentCount;
    bytes[offsetof(DeviceDescription, Reserved)] = components.Reserved[0];
    bytes[offsetof(DeviceDescription, Reserved) + 1] = components.Reserved[1];
    bytes[offsetof(DeviceDescription, ProtocolFlags)] = components.ProtocolFlags;
    for (std::size_t i = 0; i < components.Components.size(); ++i) {
        WriteComponentEntry(
            bytes + offsetof(DeviceDescription, Components) + i * sizeof(ComponentEntry),
            components.Components[i]);
    }
}

}  // namespace zelk::capi
