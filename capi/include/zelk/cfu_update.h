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

#include "zelk/cfu_result_codes.h"
#include "zelk/hid_records.h"

/* Result of every library call: 0 is success; zelk/cfu_result_codes.h names
 * every value and docs/library-interface.md explains them. */
typedef uint32_t ResultCode;
/* An opened HID interface; all ones means no endpoint. */
typedef uint64_t EndpointHandle;
#define CFU_NO_ENDPOINT ((EndpointHandle)0xFFFFFFFFFFFFFFFFull)

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

/* One component of the device, as CFUGetDeviceDescription fills it. The
 * version parts are decoded by device family; parts 3 and 4 are stored in this
 * crossed order, and a version reads Part1.Part2.Part3.Part4. */
typedef struct ComponentEntry {
    uint32_t VersionPart1;
    uint32_t VersionPart2;
    uint32_t VersionPart4;
    uint32_t VersionPart3;
    uint32_t ComponentInfo; /* bits 0-1 bank, 2-3 bud role, 8-15 component ID */
} ComponentEntry;

/* The caller's 1015-byte description buffer. Byte 0 and everything after the
 * last component written keep the caller's values. */
typedef struct DeviceDescription {
    uint8_t Unused;
    uint8_t ComponentCount; /* as the device reported it; at most 7 entries follow */
    uint8_t Reserved[2];
    uint8_t ProtocolFlags;
    ComponentEntry Components[50];
    uint8_t Tail[10];
} DeviceDescription;

/* Progress of the content transfer: Percentage 0 to 100; Status 0 while it
 * goes well or when it is done, otherwise the transfer's failure (10 failed,
 * 11 sequence mismatch, 12 write error, 13 no answer); ImageTag the tag of the
 * image whose offer was accepted last (0xFFFF before). */
typedef struct UpdateStatus {
    uint8_t Percentage;
    uint32_t Status;
    uint16_t ImageTag;
} UpdateStatus;

#pragma pack(pop)

/* Runs on the thread inside CFUUpdate; `status` is valid during the call only.
 * The result is ignored. */
typedef int32_t (*UpdateStatusCallback)(uint64_t endpoint, const UpdateStatus* status);

#ifdef __cplusplus
static_assert(sizeof(UpdateConfig) == 190, "UpdateConfig is 190 bytes");
static_assert(sizeof(UpdateOptions) == 4, "UpdateOptions is 4 bytes");
static_assert(sizeof(ComponentEntry) == 20, "ComponentEntry is 20 bytes");
static_assert(sizeof(DeviceDescription) == 1015, "DeviceDescription is 1015 bytes");
static_assert(sizeof(UpdateStatus) == 7, "UpdateStatus is 7 bytes");
extern "C" {
#endif

/* Drops every registered endpoint (without closing it) and sets the device
 * family, which chooses the version decoding, the attempts and the components
 * that may be updated. */
ZELK_API void CFUInitialize(int32_t deviceFamily);
/* Drops every registered endpoint; the family, configuration and images stay. */
ZELK_API void CFUUninitialize(void);

/* Installs a configuration and disarms the enumeration capability filter. */
ZELK_API void CFUSetConfig(UpdateConfig config);
/* Installs a configuration and arms the capability filter with CheckReportCaps. */
ZELK_API void CFUSetConfigEx(UpdateConfig config);
/* Replaces the options of later offers and waits. */
ZELK_API void CFUSetUpdateOptions(UpdateOptions options);

/* Finds the interfaces that fit the configuration. Returns the characters
 * (NULs included) that CFUGetDeviceEndpointPath needs for all their paths, or
 * 0 when none fits. */
ZELK_API int32_t CFUGetDeviceNumber(void);
/* Copies the found paths, each NUL-terminated, one after another. 1 when they
 * do not fit in `capacity` characters (those that fit are in place) or the
 * buffer is null. */
ZELK_API ResultCode CFUGetDeviceEndpointPath(char16_t* buffer, int32_t capacity);

/* Opens the image list (8 when it is already open); drops the old images. */
ZELK_API ResultCode CFUStartAddImage(void);
/* Loads one offer file (16 bytes) and its payload file (57-byte records).
 * 10 when a file cannot be used, 11 when the list holds 20 images. */
ZELK_API ResultCode CFUAddImage(const char16_t* offerPath, const char16_t* payloadPath);
/* Closes the image list (9 when it is not open). */
ZELK_API ResultCode CFUStopAddImage(void);

/* Opens an interface as an endpoint. `*handle` must not hold a registered
 * value on entry; it receives the opened handle. 1 on failure. */
ZELK_API ResultCode CFUOpenDeviceEndpoint(const char16_t* path, EndpointHandle* handle);
/* Closes a registered endpoint (1 when the value is not registered). */
ZELK_API ResultCode CFUCloseDeviceEndpoint(EndpointHandle handle);
/* Reads the device's components and versions into `description` (2 on
 * failure). An unregistered handle value is adopted as an endpoint. */
ZELK_API ResultCode CFUGetDeviceDescription(EndpointHandle handle, DeviceDescription* description);
/* One callback per endpoint: 1 when one is registered already. */
ZELK_API ResultCode CFURegisterUpdateStatusCallback(EndpointHandle handle,
                                                    UpdateStatusCallback callback);
ZELK_API ResultCode CFUUnregisterUpdateStatusCallback(EndpointHandle handle);
/* Offers the images to the device and transfers what it accepts. */
ZELK_API ResultCode CFUUpdate(EndpointHandle handle);

/* Lists every present HID interface; returns how many, or 0 when the system's
 * list could not be read. The list is kept for HIDGetAllDeviceInfo. */
ZELK_API int64_t HIDGetAllDeviceNumber(void);
/* Describes each interface of the kept list into records[i]. The array must
 * hold as many records as the last HIDGetAllDeviceNumber returned, and exactly
 * that many are written, whatever the list holds now: when the devices changed
 * since (or CFUGetDeviceNumber listed others), a longer list is cut to that
 * count and the result is 1 (list again), and records a shorter list does not
 * fill are zeroed (empty Path). Paths of 260 characters or more are cut to 259
 * and NUL-terminated. Returns 1 when the last interface could not be opened or
 * its capabilities read, else 0. */
ZELK_API uint8_t HIDGetAllDeviceInfo(HIDDeviceInfo* records);

#ifdef __cplusplus
}
#endif

#endif /* ZELK_CFU_UPDATE_H */
