/*
 * The progress record an update reports to its caller, and the callback that
 * receives it. Plain C so that the library's public header can carry the same
 * definitions; whichever header comes first defines them.
 */
#ifndef ZELK_UPDATE_STATUS_H
#define ZELK_UPDATE_STATUS_H

#include <stdint.h>

#ifndef ZELK_UPDATE_STATUS_DEFINED
#define ZELK_UPDATE_STATUS_DEFINED

#pragma pack(push, 1)

/* Percentage: 0..100 of the content of the image in transfer.
 * Status: 0 while going well or when done; otherwise the content result that
 * ended the transfer (10 failed, 11 sequence mismatch, 12 write error,
 * 13 no answer). ImageTag: the tag of the image last accepted (0xFFFF before). */
typedef struct UpdateStatus {
    uint8_t Percentage;
    uint32_t Status;
    uint16_t ImageTag;
} UpdateStatus;

#pragma pack(pop)

#ifdef __cplusplus
static_assert(sizeof(UpdateStatus) == 7, "UpdateStatus is 7 bytes");
extern "C" {
#endif

/* Called on the updating thread with the endpoint's handle value and a copy of
 * the status, valid only during the call. The returned value is ignored. */
typedef int32_t (*UpdateStatusCallback)(uint64_t endpoint, const UpdateStatus* status);

#ifdef __cplusplus
}
#endif

#endif /* ZELK_UPDATE_STATUS_DEFINED */

#endif /* ZELK_UPDATE_STATUS_H */
