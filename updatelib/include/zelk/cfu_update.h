/*
 * ZelkUpdateTool update library: the flat C call interface.
 *
 * Every record is packed and little-endian; strings are NUL-terminated UTF-16.
 * Calls report failures as result codes and never throw. The library keeps one
 * process-wide state and expects its calls from one thread at a time.
 */
#ifndef ZELK_CFU_UPDATE_H
#define ZELK_CFU_UPDATE_H

#include <stdint.h>

#include "zelk/hid_records.h"

#pragma pack(push, 1)

/* What the library looks for and how it talks to it. */
typedef struct UpdateConfig {
    uint16_t VendorId;  /* an interface path must carry VID_xxxx */
    uint16_t ProductId; /* an interface path must carry PID_xxxx */
    uint16_t UsagePage; /* top-level collection the interface must report */
    uint16_t Usage;
    uint8_t CheckReportCaps;           /* resolve the five reports from the device's caps */
    uint8_t RequireVersionCapsAtMatch; /* with the caps filter armed: keep only interfaces
                                          that carry the version report's usage */
    ReportSpec VersionReport;          /* feature, usage 0x62 */
    ReportSpec OfferResponseReport;    /* input, usage 0x8A */
    ReportSpec ContentResponseReport;  /* input, usage 0x66 */
    ReportSpec OfferReport;            /* output, usage 0x8E */
    ReportSpec ContentReport;          /* output, usage 0x61 */
    uint8_t Reserved[135];             /* copied, never read */
} UpdateConfig;

/* Adjusts every offer and response wait of later updates. */
typedef struct UpdateOptions {
    uint8_t ForceIgnoreVersion;  /* offer byte 1 bit 7 */
    uint8_t ForceImmediateReset; /* offer byte 1 bit 6 */
    uint8_t OfferVendorFlag;     /* offer byte 10 bit 2 */
    uint8_t LongResponseWait;    /* wait up to 2000 ms for each answer instead of 200 ms */
} UpdateOptions;

#pragma pack(pop)

#ifdef __cplusplus
static_assert(sizeof(UpdateConfig) == 190, "UpdateConfig is 190 bytes");
static_assert(sizeof(UpdateOptions) == 4, "UpdateOptions is 4 bytes");
extern "C" {
#endif

/* Installs a configuration and disarms the enumeration capability filter. */
ZELK_API void CFUSetConfig(UpdateConfig config);
/* Installs a configuration and arms the capability filter with CheckReportCaps. */
ZELK_API void CFUSetConfigEx(UpdateConfig config);
/* Replaces the options of later offers and waits. */
ZELK_API void CFUSetUpdateOptions(UpdateOptions options);

/* Lists every present HID interface; returns how many, or 0 when the system's
 * list could not be read. The list is kept for HIDGetAllDeviceInfo. */
ZELK_API int64_t HIDGetAllDeviceNumber(void);
/* Describes each interface of the kept list into records[i]. The array must
 * hold as many records as the last HIDGetAllDeviceNumber returned. Paths of
 * 260 characters or more are cut to 259 and NUL-terminated. Returns 1 when the
 * last interface could not be opened or its capabilities read, else 0. */
ZELK_API uint8_t HIDGetAllDeviceInfo(HIDDeviceInfo* records);

#ifdef __cplusplus
}
#endif

#endif /* ZELK_CFU_UPDATE_H */
