/* Drives the whole call sequence of the public C header, as another program
 * would, on the devices ZELK_VIRTUAL_DEVICES names (the default earbud).
 * Usage: cfu_update_check <offer file> <payload file> */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "zelk/cfu_update.h"

static int failures = 0;
static int notifications = 0;
static int lastPercentage = -1;

#define CHECK(condition)                                                                  \
    do {                                                                                  \
        if (!(condition)) {                                                               \
            fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
            ++failures;                                                                   \
        }                                                                                 \
    } while (0)

static int32_t OnStatus(uint64_t endpoint, const UpdateStatus* status) {
    (void)endpoint;
    ++notifications;
    lastPercentage = status->Percentage;
    return 0;
}

static char16_t* Widen(const char* text) {
    const size_t length = strlen(text);
    char16_t* wide = calloc(length + 1, sizeof(char16_t));
    for (size_t i = 0; i < length; ++i) {
        wide[i] = (unsigned char)text[i];
    }
    return wide;
}

int main(int argc, char** argv) {
    if (argc != 3) {
        fprintf(stderr, "usage: cfu_update_check <offer> <payload>\n");
        return 2;
    }
    char16_t* offer = Widen(argv[1]);
    char16_t* payload = Widen(argv[2]);

    UpdateConfig config;
    memset(&config, 0, sizeof config);
    config.VendorId = 0x320F;
    config.ProductId = 0x5055;
    config.UsagePage = 0xFF0B;
    config.Usage = 0x0104;
    config.CheckReportCaps = 1;
    config.RequireVersionCapsAtMatch = 1;
    config.VersionReport.Usage = 0x62;
    config.VersionReport.ReportType = 2;
    config.OfferResponseReport.Usage = 0x8A;
    config.ContentResponseReport.Usage = 0x66;
    config.OfferReport.Usage = 0x8E;
    config.OfferReport.ReportType = 1;
    config.ContentReport.Usage = 0x61;
    config.ContentReport.ReportType = 1;

    CFUSetConfig(config);
    CFUInitialize(1);
    const int32_t characters = CFUGetDeviceNumber();
    CHECK(characters > 1);
    char16_t* paths = calloc((size_t)characters, sizeof(char16_t));
    CHECK(CFUGetDeviceEndpointPath(paths, characters) == 0);
    CFUSetConfigEx(config);
    UpdateOptions options = {1, 0, 0, 0};
    CFUSetUpdateOptions(options);
    CHECK(CFUStartAddImage() == 0);
    CHECK(CFUAddImage(offer, payload) == 0);
    CHECK(CFUStopAddImage() == 0);

    EndpointHandle handle = CFU_NO_ENDPOINT;
    CHECK(CFUOpenDeviceEndpoint(paths, &handle) == 0);
    DeviceDescription description;
    memset(&description, 0, sizeof description);
    CHECK(CFUGetDeviceDescription(handle, &description) == 0);
    CHECK(description.ComponentCount == 1);
    CHECK(((description.Components[0].ComponentInfo >> 8) & 0xFF) == 0x0F);
    CHECK(CFURegisterUpdateStatusCallback(handle, OnStatus) == 0);
    CHECK(CFUUpdate(handle) == 0);
    CHECK(CFUUnregisterUpdateStatusCallback(handle) == 0);
    CHECK(CFUCloseDeviceEndpoint(handle) == 0);
    CHECK(CFUCloseDeviceEndpoint(handle) == 1);
    CFUUninitialize();
    CHECK(notifications == 100);
    CHECK(lastPercentage == 100);

    free(paths);
    free(offer);
    free(payload);
    printf("cfu update: %d failed\n", failures);
    return failures == 0 ? 0 : 1;
}
