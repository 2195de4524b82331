/* Uses the two exported HID calls exactly as another program would: through
 * the public C header and the shared library, on the devices that
 * ZELK_VIRTUAL_DEVICES names (or the real ones: scripts/wine-hid-tests.sh).
 * Usage: hid_exports_check <expected interfaces>; -1: any number (a real system
 * lists other HID devices too), the earbud's among them */
#include <stddef.h>
#include <stdio.h>
#include <stdlib.h>

#include "zelk/cfu_update.h"

static int failures = 0;

#define CHECK(condition)                                                                  \
    do {                                                                                  \
        if (!(condition)) {                                                               \
            fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
            ++failures;                                                                   \
        }                                                                                 \
    } while (0)

/* Letter case aside: Windows writes interface paths in capitals, Wine in lower case. */
static char16_t Upper(char16_t c) {
    return c >= u'a' && c <= u'z' ? (char16_t)(c - 32) : c;
}

static int PathContains(const char16_t* path, const char* text) {
    for (size_t start = 0; path[start] != 0; ++start) {
        size_t i = 0;
        while (text[i] != 0 && Upper(path[start + i]) == Upper((char16_t)text[i])) {
            ++i;
        }
        if (text[i] == 0) {
            return 1;
        }
    }
    return 0;
}

int main(int argc, char** argv) {
    const long expected = argc > 1 ? strtol(argv[1], NULL, 10) : 1;
    CHECK(sizeof(HIDDeviceInfo) == 2098);
    CHECK(sizeof(HIDReportIdList) == 261);
    CHECK(offsetof(HIDDeviceInfo, ReportLists) == 532);
    CHECK(sizeof(UpdateConfig) == 190);

    const int64_t count = HIDGetAllDeviceNumber();
    CHECK(expected < 0 ? count >= 1 : count == expected);
    if (count > 0) {
        HIDDeviceInfo* records = calloc((size_t)count, sizeof(HIDDeviceInfo));
        CHECK(HIDGetAllDeviceInfo(records) == 0);
        /* Each record, so that a failure shows what the system listed. */
        for (int64_t i = 0; i < count; ++i) {
            printf("record %d: usage page 0x%04X, usage 0x%04X, path ", (int)i,
                   records[i].UsagePage, records[i].Usage);
            for (size_t c = 0; c < 260 && records[i].Path[c] != 0; ++c) {
                putchar(records[i].Path[c] < 0x80 ? (int)records[i].Path[c] : '?');
            }
            putchar('\n');
        }
        /* The earbud's record: the first whose path names it. */
        int64_t at = 0;
        while (at + 1 < count && !PathContains(records[at].Path, "VID_320F&PID_5055&MI_02")) {
            ++at;
        }
        CHECK(PathContains(records[at].Path, "VID_320F&PID_5055&MI_02"));
        CHECK(records[at].UsagePage == 0xFF0B);
        CHECK(records[at].Usage == 0x0104);
        CHECK(records[at].FeatureReportByteLength == 61);
        CHECK(records[at].OutputReportByteLength == 61);
        CHECK(records[at].InputReportByteLength == 17);
        CHECK(records[at].ReportListCount == 3);
        free(records);
    } else {
        CHECK(HIDGetAllDeviceInfo(NULL) == 0);
    }
    printf("hid exports: %d failed\n", failures);
    return failures == 0 ? 0 : 1;
}
