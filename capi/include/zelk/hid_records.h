/*
 * Records of the HID transport that cross the program's C call interface.
 *
 * Every record is packed, without padding, and little-endian (the only byte
 * order of the platforms the program runs on). Strings are UTF-16, NUL-terminated.
 */
#ifndef ZELK_HID_RECORDS_H
#define ZELK_HID_RECORDS_H

#include <stdint.h>
#ifndef __cplusplus
#include <uchar.h>
#endif

#if defined(_WIN32)
#if defined(ZELK_BUILDING_API)
#define ZELK_API __declspec(dllexport)
#else
#define ZELK_API
#endif
#else
#define ZELK_API __attribute__((visibility("default")))
#endif

#pragma pack(push, 1)

/* Describes one HID report that carries an update message. ReportId and
 * ReportLength are completed from the device's capabilities; ReportLength
 * counts the report-ID byte. ReportType: 0 input, 1 output, 2 feature. */
typedef struct ReportSpec {
    uint8_t ReportId;
    uint16_t Usage;
    uint16_t ReportLength;
    uint32_t ReportType;
} ReportSpec;

/* The report IDs of one kind of capability record of an interface. */
typedef struct HIDReportIdList {
    int32_t ReportType;     /* 0 input, 1 output, 2 feature */
    uint16_t Count;         /* records the system returned; may exceed 255 */
    uint8_t ReportIds[255]; /* the first min(Count, 255) report IDs, in order */
} HIDReportIdList;

/* One present HID interface as HIDGetAllDeviceInfo describes it. */
typedef struct HIDDeviceInfo {
    char16_t Path[260]; /* at most 259 characters, always NUL-terminated */
    uint16_t Usage;
    uint16_t UsagePage;
    uint16_t ReportListCount; /* entries of ReportLists filled, 0 to 6 */
    uint16_t InputReportByteLength;
    uint16_t OutputReportByteLength;
    uint16_t FeatureReportByteLength;
    HIDReportIdList ReportLists[6];
} HIDDeviceInfo;

#pragma pack(pop)

#ifdef __cplusplus
static_assert(sizeof(ReportSpec) == 9, "ReportSpec is 9 bytes");
static_assert(sizeof(HIDReportIdList) == 261, "HIDReportIdList is 261 bytes");
static_assert(sizeof(HIDDeviceInfo) == 2098, "HIDDeviceInfo is 2098 bytes");
#endif

#endif /* ZELK_HID_RECORDS_H */
