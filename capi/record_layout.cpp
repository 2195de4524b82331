// Compile-time checks of the records that cross the C interface: their sizes
// and the offsets other programs rely on.
#include <bit>
#include <cstddef>

#include "zelk/cfu_update.h"

static_assert(std::endian::native == std::endian::little, "records are little-endian");

static_assert(offsetof(ReportSpec, Usage) == 1);
static_assert(offsetof(ReportSpec, ReportLength) == 3);
static_assert(offsetof(ReportSpec, ReportType) == 5);

static_assert(offsetof(UpdateConfig, ProductId) == 2);
static_assert(offsetof(UpdateConfig, UsagePage) == 4);
static_assert(offsetof(UpdateConfig, Usage) == 6);
static_assert(offsetof(UpdateConfig, CheckReportCaps) == 8);
static_assert(offsetof(UpdateConfig, RequireVersionCapsAtMatch) == 9);
static_assert(offsetof(UpdateConfig, VersionReport) == 10);
static_assert(offsetof(UpdateConfig, OfferResponseReport) == 19);
static_assert(offsetof(UpdateConfig, ContentResponseReport) == 28);
static_assert(offsetof(UpdateConfig, OfferReport) == 37);
static_assert(offsetof(UpdateConfig, ContentReport) == 46);
static_assert(offsetof(UpdateConfig, Reserved) == 55);

static_assert(offsetof(UpdateOptions, ForceImmediateReset) == 1);
static_assert(offsetof(UpdateOptions, OfferVendorFlag) == 2);
static_assert(offsetof(UpdateOptions, LongResponseWait) == 3);

static_assert(offsetof(HIDReportIdList, Count) == 4);
static_assert(offsetof(HIDReportIdList, ReportIds) == 6);
static_assert(offsetof(HIDDeviceInfo, Usage) == 520);
static_assert(offsetof(HIDDeviceInfo, UsagePage) == 522);
static_assert(offsetof(HIDDeviceInfo, ReportListCount) == 524);
static_assert(offsetof(HIDDeviceInfo, InputReportByteLength) == 526);
static_assert(offsetof(HIDDeviceInfo, OutputReportByteLength) == 528);
static_assert(offsetof(HIDDeviceInfo, FeatureReportByteLength) == 530);
static_assert(offsetof(HIDDeviceInfo, ReportLists) == 532);
