// The Windows HID backend against a scripted table of Win32 calls (and, for a
// smoke check, the real one). Built only for Windows; runs under Wine.
#ifdef _WIN32

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "hidtransport/windows/win32_change_watch.h"
#include "hidtransport/windows/win32_hid_api.h"
#include "hidtransport/windows/win32_hid_backend.h"
// After <windows.h>, which the headers above bring and it needs.
#include <dbt.h>

// Script rows name only the fields that differ from a plain pending read.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace zelk::hid::win32 {
namespace {

HANDLE FakeHandle(std::uintptr_t value) {
    return reinterpret_cast<HANDLE>(value);
}

const HANDLE kEvent = FakeHandle(0xE0);

// How one overlapped read plays out.
struct ReadScript {
    BOOL readReturns = FALSE;
    DWORD readError = ERROR_IO_PENDING;
    DWORD waitResult = WAIT_OBJECT_0;
    BOOL cancelReturns = TRUE;
    DWORD cancelError = 0;
    BOOL resultReturns = TRUE;
    DWORD resultError = 0;
    std::vector<std::uint8_t> report;  // what lands in the buffer when the read finishes
};

class FakeApi final : public Win32HidApi {
  public:
    // Device interface list.
    std::vector<wchar_t> listing;
    CONFIGRET sizeResult = CR_SUCCESS;
    CONFIGRET listResult = CR_SUCCESS;
    int bufferSmallTimes = 0;

    // Opening.
    HANDLE nextHandle = FakeHandle(0x100);
    DWORD openError = 0;        // non-zero: CreateFileW fails with it
    bool refuseAccess = false;  // an open that asks for any access is denied
    std::vector<std::wstring> openedPaths;
    std::vector<std::size_t> openedLengths;  // wcslen of what the call saw
    DWORD access = 0, share = 0, disposition = 0, flags = 0;
    std::vector<HANDLE> closed;

    // Reports and reads.
    ReadScript read;
    int readCalls = 0;
    OVERLAPPED* readOverlapped = nullptr;
    std::uint8_t* readBuffer = nullptr;
    std::vector<OVERLAPPED*> cancelled;
    bool resultWaited = false;
    int eventsCreated = 0;
    int eventsClosed = 0;
    int reportCalls = 0;
    int waits = 0;
    std::function<void()> onWait;  // runs while a read waits
    BOOLEAN reportReturns = TRUE;
    DWORD reportError = 0;

    // Descriptor.
    HIDP_CAPS caps{};
    std::vector<HIDP_VALUE_CAPS> valueCaps;
    int preparsedFreed = 0;

    std::vector<std::wstring> debugLines;

    // Change notifications.
    bool refuseNotification = false;
    HWND notifiedWindow = nullptr;
    GUID notifiedGuid{};
    int unregistered = 0;

    void GetHidGuid(GUID* guid) override { std::memset(guid, 0x11, sizeof(*guid)); }
    CONFIGRET GetInterfaceListSize(ULONG* length, GUID*) override {
        *length = static_cast<ULONG>(listing.size());
        if (bufferSmallTimes > 0 && *length > 0) {
            *length -= 1;  // a device arrives between the two calls
        }
        return sizeResult;
    }
    CONFIGRET GetInterfaceList(GUID*, wchar_t* buffer, ULONG length) override {
        if (listResult != CR_SUCCESS) {
            return listResult;
        }
        if (bufferSmallTimes > 0) {
            --bufferSmallTimes;
            return CR_BUFFER_SMALL;
        }
        if (length < listing.size()) {
            return CR_BUFFER_SMALL;
        }
        std::copy(listing.begin(), listing.end(), buffer);
        return CR_SUCCESS;
    }
    bool setupApiAnswers = true;
    std::vector<std::wstring> setupApiPaths;
    bool ListInterfacesBySetupApi(GUID*, std::vector<std::wstring>& paths) override {
        paths = setupApiPaths;
        return setupApiAnswers;
    }
    HANDLE OpenPath(const wchar_t* path, DWORD a, DWORD s, DWORD d, DWORD f) override {
        openedPaths.emplace_back(path);
        openedLengths.push_back(std::wcslen(path));
        access = a, share = s, disposition = d, flags = f;
        if (openError != 0 || (refuseAccess && a != 0)) {
            lastError = openError != 0 ? openError : ERROR_ACCESS_DENIED;
            return INVALID_HANDLE_VALUE;
        }
        HANDLE handle = nextHandle;
        nextHandle = FakeHandle(reinterpret_cast<std::uintptr_t>(nextHandle) + 4);
        return handle;
    }
    BOOL CloseHandle(HANDLE handle) override {
        if (handle == kEvent) {
            ++eventsClosed;
        } else {
            closed.push_back(handle);
        }
        return TRUE;
    }
    BOOLEAN GetPreparsedData(HANDLE, PHIDP_PREPARSED_DATA* data) override {
        *data = reinterpret_cast<PHIDP_PREPARSED_DATA>(this);
        return TRUE;
    }
    BOOLEAN FreePreparsedData(PHIDP_PREPARSED_DATA) override {
        ++preparsedFreed;
        return TRUE;
    }
    NTSTATUS GetCaps(PHIDP_PREPARSED_DATA, HIDP_CAPS* out) override {
        *out = caps;
        return HIDP_STATUS_SUCCESS;
    }
    NTSTATUS GetValueCaps(HIDP_REPORT_TYPE type, HIDP_VALUE_CAPS* out, USHORT* length,
                          PHIDP_PREPARSED_DATA) override {
        USHORT n = 0;
        for (const HIDP_VALUE_CAPS& c : valueCaps) {
            if (c.BitField == static_cast<USHORT>(type) && n < *length) {
                out[n++] = c;
            }
        }
        *length = n;
        return HIDP_STATUS_SUCCESS;
    }
    std::vector<HIDP_BUTTON_CAPS> buttonCaps;  // BitField holds the report type
    NTSTATUS GetButtonCaps(HIDP_REPORT_TYPE type, HIDP_BUTTON_CAPS* out, USHORT* length,
                           PHIDP_PREPARSED_DATA) override {
        USHORT n = 0;
        for (const HIDP_BUTTON_CAPS& c : buttonCaps) {
            if (c.BitField == static_cast<USHORT>(type) && n < *length) {
                out[n++] = c;
            }
        }
        *length = n;
        return HIDP_STATUS_SUCCESS;
    }
    NTSTATUS GetSpecificValueCaps(HIDP_REPORT_TYPE type, USAGE, USHORT, USAGE usage,
                                  HIDP_VALUE_CAPS* out, USHORT* length,
                                  PHIDP_PREPARSED_DATA) override {
        USHORT n = 0;
        for (const HIDP_VALUE_CAPS& c : valueCaps) {
            if (c.BitField == static_cast<USHORT>(type) && c.NotRange.Usage == usage &&
                n < *length) {
                out[n++] = c;
            }
        }
        *length = n;
        return n == 0 ? HIDP_STATUS_USAGE_NOT_FOUND : HIDP_STATUS_SUCCESS;
    }
    BOOLEAN SetOutputReport(HANDLE, void*, ULONG) override { return Reported(); }
    BOOLEAN SetFeature(HANDLE, void*, ULONG) override { return Reported(); }
    BOOLEAN GetFeature(HANDLE, void*, ULONG) override { return Reported(); }
    // Serial string: nothing when the device has none.
    std::optional<std::wstring> serial;
    BOOLEAN GetSerialNumberString(HANDLE, void* buffer, ULONG length) override {
        if (!serial) {
            return FALSE;
        }
        // As hid.dll: as many characters as fit, NUL-terminated only when there is room.
        const std::size_t room = length / sizeof(wchar_t);
        const std::size_t count = std::min(room, serial->size() + 1);
        std::memcpy(buffer, serial->c_str(), count * sizeof(wchar_t));
        return TRUE;
    }
    bool eventFails = false;
    HANDLE NewEvent() override {
        if (eventFails) {
            return nullptr;
        }
        ++eventsCreated;
        return kEvent;
    }
    BOOL ReadFile(HANDLE, void* buffer, DWORD, OVERLAPPED* overlapped) override {
        ++readCalls;
        readOverlapped = overlapped;
        readBuffer = static_cast<std::uint8_t*>(buffer);
        if (read.readReturns) {
            Land();
            return TRUE;
        }
        lastError = read.readError;
        return FALSE;
    }
    std::vector<HANDLE> waitedOn;
    DWORD WaitForSingleObject(HANDLE handle, DWORD) override {
        ++waits;
        waitedOn.push_back(handle);
        if (onWait) {
            onWait();
        }
        return read.waitResult;
    }
    BOOL GetOverlappedResult(HANDLE, OVERLAPPED* overlapped, DWORD* transferred,
                             BOOL wait) override {
        EXPECT_EQ(overlapped, readOverlapped);
        resultWaited = wait != FALSE;
        if (read.resultReturns) {
            Land();
            *transferred = static_cast<DWORD>(read.report.size());
            return TRUE;
        }
        *transferred = 0;
        lastError = read.resultError;
        return FALSE;
    }
    BOOL CancelIoEx(HANDLE, OVERLAPPED* overlapped) override {
        cancelled.push_back(overlapped);
        lastError = read.cancelError;
        return read.cancelReturns;
    }
    // Update locks are tried against the system's own mutexes (below).
    HANDLE OpenNamedMutex(const wchar_t*) override { return nullptr; }
    BOOL ReleaseMutex(HANDLE) override { return FALSE; }
    HDEVNOTIFY RegisterInterfaceNotification(HWND window, const GUID& guid) override {
        if (refuseNotification) {
            return nullptr;
        }
        notifiedWindow = window;
        notifiedGuid = guid;
        return FakeHandle(0xD0);
    }
    BOOL UnregisterInterfaceNotification(HDEVNOTIFY notification) override {
        unregistered += notification == FakeHandle(0xD0) ? 1 : 100;
        return TRUE;
    }
    DWORD GetLastError() override { return lastError; }
    void DebugString(const wchar_t* text) override { debugLines.emplace_back(text); }

    bool DebugLineHas(const std::wstring& text) const {
        for (const std::wstring& line : debugLines) {
            if (line.find(text) != std::wstring::npos) {
                return true;
            }
        }
        return false;
    }

  private:
    BOOLEAN Reported() {
        ++reportCalls;
        lastError = reportError;
        return reportReturns;
    }
    void Land() { std::copy(read.report.begin(), read.report.end(), readBuffer); }

    DWORD lastError = 0;
};

std::vector<wchar_t> MultiString(std::initializer_list<std::wstring> paths,
                                 bool terminated = true) {
    std::vector<wchar_t> out;
    for (const std::wstring& path : paths) {
        out.insert(out.end(), path.begin(), path.end());
        out.push_back(L'\0');
    }
    if (terminated) {
        out.push_back(L'\0');
    }
    return out;
}

const std::u16string kPath = u"\\\\?\\HID#VID_320F&PID_226B&MI_03#7&1&0&0000#{4d1e55b2-f16f}";

TEST(Win32HidBackend, ListsEveryInterfaceOfTheSystemList) {
    FakeApi api;
    api.listing = MultiString({L"\\\\?\\hid#vid_1&pid_2#a", L"\\\\?\\hid#vid_3&pid_4&mi_01#b"});
    Win32HidBackend backend(api);
    std::vector<std::u16string> paths;
    ASSERT_EQ(backend.ListInterfaces(paths), 0);
    EXPECT_EQ(paths, (std::vector<std::u16string>{u"\\\\?\\hid#vid_1&pid_2#a",
                                                  u"\\\\?\\hid#vid_3&pid_4&mi_01#b"}));
}

TEST(Win32HidBackend, ListQueryFailuresGiveTheirCodesAndKeepThePreviousList) {
    struct Case {
        const char* what;
        CONFIGRET sizeResult;
        CONFIGRET listResult;
        int expected;
    };
    const Case cases[] = {
        {"size query fails", CR_FAILURE, CR_SUCCESS, 1},
        {"list query fails", CR_SUCCESS, CR_INVALID_DATA, 3},
    };
    for (const Case& c : cases) {
        FakeApi api;
        api.listing = MultiString({L"x"});
        api.sizeResult = c.sizeResult;
        api.listResult = c.listResult;
        api.setupApiAnswers = false;
        Win32HidBackend backend(api);
        std::vector<std::u16string> paths{u"previous"};
        EXPECT_EQ(backend.ListInterfaces(paths), c.expected) << c.what;
        EXPECT_EQ(paths, std::vector<std::u16string>{u"previous"}) << c.what;
        EXPECT_TRUE(api.DebugLineHas(L"failed: error")) << c.what;
    }
}

TEST(Win32HidBackend, FailedConfigurationManagerListFallsBackToTheSetupApi) {
    FakeApi api;
    api.sizeResult = CR_CALL_NOT_IMPLEMENTED;
    api.setupApiPaths = {L"\\\\?\\hid#vid_320f&pid_226b#1"};
    Win32HidBackend backend(api);
    std::vector<std::u16string> paths;
    ASSERT_EQ(backend.ListInterfaces(paths), 0);
    EXPECT_EQ(paths, std::vector<std::u16string>{u"\\\\?\\hid#vid_320f&pid_226b#1"});

    api.setupApiAnswers = false;
    EXPECT_EQ(backend.ListInterfaces(paths), 1);
    EXPECT_EQ(paths.size(), 1u) << "the previous list stays";
}

TEST(Win32HidBackend, ListGrownBetweenSizeAndListQueriesIsAskedAgain) {
    FakeApi api;
    api.listing = MultiString({L"first", L"second"});
    api.bufferSmallTimes = 1;
    Win32HidBackend backend(api);
    std::vector<std::u16string> paths;
    ASSERT_EQ(backend.ListInterfaces(paths), 0);
    EXPECT_EQ(paths.size(), 2u);
}

TEST(Win32HidBackend, UnterminatedListEndsWithItsBuffer) {
    FakeApi api;
    api.listing = {L'a', L'\0', L'b', L'c'};
    Win32HidBackend backend(api);
    std::vector<std::u16string> paths;
    ASSERT_EQ(backend.ListInterfaces(paths), 0);
    EXPECT_EQ(paths, (std::vector<std::u16string>{u"a", u"bc"}));
}

TEST(Win32HidBackend, OpensWithTheRightsOfItsModeAndAWholeTerminatedPath) {
    struct Case {
        HidOpenMode mode;
        DWORD access;
        DWORD flags;
    };
    for (const Case& c : {Case{HidOpenMode::Query, GENERIC_READ, FILE_ATTRIBUTE_NORMAL},
                          Case{HidOpenMode::Io, GENERIC_READ | GENERIC_WRITE,
                               static_cast<DWORD>(FILE_FLAG_OVERLAPPED)}}) {
        FakeApi api;
        Win32HidBackend backend(api);
        // A view into a longer string: the call must see only the view.
        const std::u16string longer = kPath + u"#trailing";
        const HidHandle handle =
            backend.Open(std::u16string_view(longer).substr(0, kPath.size()), c.mode);
        ASSERT_NE(handle, kInvalidHidHandle);
        ASSERT_EQ(api.openedPaths.size(), 1u);
        EXPECT_EQ(api.openedPaths[0], std::wstring(kPath.begin(), kPath.end()));
        EXPECT_EQ(api.openedLengths[0], kPath.size());
        EXPECT_EQ(api.access, c.access);
        EXPECT_EQ(api.share, static_cast<DWORD>(FILE_SHARE_READ | FILE_SHARE_WRITE));
        EXPECT_EQ(api.disposition, static_cast<DWORD>(OPEN_EXISTING));
        EXPECT_EQ(api.flags, c.flags);
    }
}

TEST(Win32HidBackend, PathWithANulInsideOrEmptyIsRefusedBeforeAnyCall) {
    FakeApi api;
    Win32HidBackend backend(api);
    const std::u16string withNul =
        u"\\\\?\\hid#vid_320f&pid_226b" + std::u16string(1, u'\0') + u"x";
    EXPECT_EQ(backend.Open(withNul, HidOpenMode::Io), kInvalidHidHandle);
    EXPECT_EQ(backend.Open(u"", HidOpenMode::Query), kInvalidHidHandle);
    EXPECT_TRUE(api.openedPaths.empty());
}

TEST(Win32HidBackend, FailedOpenGivesNoHandleAndADebuggerLineWithTheLastError) {
    FakeApi api;
    api.openError = ERROR_ACCESS_DENIED;
    Win32HidBackend backend(api);
    EXPECT_EQ(backend.Open(kPath, HidOpenMode::Io), kInvalidHidHandle);
    EXPECT_TRUE(api.DebugLineHas(L"CreateFileW failed: error 5"));
}

TEST(Win32HidBackend, ValuesItDidNotOpenAreRefusedNeverClosedOrUsed) {
    FakeApi api;
    Win32HidBackend backend(api);
    const HidHandle handle = backend.Open(kPath, HidOpenMode::Io);
    const HidHandle strangers[] = {kInvalidHidHandle, 0, handle + 4, 0x1234};
    std::uint8_t buffer[8] = {1};
    for (const HidHandle stranger : strangers) {
        std::size_t received = 7;
        EXPECT_FALSE(backend.Close(stranger));
        EXPECT_FALSE(backend.SetOutputReport(stranger, buffer, sizeof buffer));
        EXPECT_FALSE(backend.SetFeature(stranger, buffer, sizeof buffer));
        EXPECT_FALSE(backend.GetFeature(stranger, buffer, sizeof buffer));
        EXPECT_EQ(backend.GetDescriptor(stranger), nullptr);
        EXPECT_EQ(backend.ReadInput(stranger, buffer, sizeof buffer, received, 200),
                  HidReadResult::Failed);
        EXPECT_EQ(received, 0u);
    }
    EXPECT_TRUE(api.closed.empty());
    EXPECT_EQ(api.reportCalls, 0);
    EXPECT_EQ(api.readCalls, 0);

    EXPECT_TRUE(backend.Close(handle));
    EXPECT_FALSE(backend.Close(handle)) << "a closed value is a stranger again";
    EXPECT_EQ(api.closed.size(), 1u);
}

TEST(Win32HidBackend, RefusedReportGivesFalseAndADebuggerLine) {
    FakeApi api;
    api.reportReturns = FALSE;
    api.reportError = ERROR_GEN_FAILURE;
    Win32HidBackend backend(api);
    const HidHandle handle = backend.Open(kPath, HidOpenMode::Io);
    const std::uint8_t report[4] = {0x2A, 1, 2, 3};
    EXPECT_FALSE(backend.SetOutputReport(handle, report, sizeof report));
    EXPECT_TRUE(api.DebugLineHas(L"HidD_SetOutputReport failed: error 31"));
}

struct ReadCase {
    const char* what;
    ReadScript script;
    HidReadResult expected;
    std::size_t expectedReceived;
    bool cancels;
};

std::vector<std::uint8_t> Report(std::size_t size) {
    std::vector<std::uint8_t> out(size);
    for (std::size_t i = 0; i < size; ++i) {
        out[i] = static_cast<std::uint8_t>(0x2B + i);
    }
    return out;
}

TEST(Win32HidBackend, OverlappedReadOutcomes) {
    const ReadCase cases[] = {
        {"completes at once",
         {.readReturns = TRUE, .report = Report(64)},
         HidReadResult::Data,
         64,
         false},
        {"completes within the wait", {.report = Report(64)}, HidReadResult::Data, 64, false},
        {"a short report keeps its own length",
         {.report = Report(10)},
         HidReadResult::Data,
         10,
         false},
        {"nothing within the time-out",
         {.waitResult = WAIT_TIMEOUT,
          .resultReturns = FALSE,
          .resultError = ERROR_OPERATION_ABORTED},
         HidReadResult::TimedOut,
         0,
         true},
        {"the report completes while the read is being cancelled",
         {.waitResult = WAIT_TIMEOUT, .report = Report(64)},
         HidReadResult::Data,
         64,
         true},
        {"the read had finished when the cancel came",
         {.waitResult = WAIT_TIMEOUT,
          .cancelReturns = FALSE,
          .cancelError = ERROR_NOT_FOUND,
          .report = Report(32)},
         HidReadResult::Data,
         32,
         true},
        {"device gone before the read starts",
         {.readError = ERROR_DEVICE_NOT_CONNECTED},
         HidReadResult::DeviceGone,
         0,
         false},
        {"device gone while the read is pending",
         {.resultReturns = FALSE, .resultError = ERROR_DEVICE_NOT_CONNECTED},
         HidReadResult::DeviceGone,
         0,
         false},
        {"device gone while the read is cancelled",
         {.waitResult = WAIT_TIMEOUT, .resultReturns = FALSE, .resultError = ERROR_GEN_FAILURE},
         HidReadResult::DeviceGone,
         0,
         true},
        {"the read cannot start for another reason",
         {.readError = ERROR_NOT_ENOUGH_MEMORY},
         HidReadResult::Failed,
         0,
         false},
        {"a read that completed with an error gives no bytes",
         {.resultReturns = FALSE, .resultError = ERROR_OPERATION_ABORTED},
         HidReadResult::Data,
         0,
         false},
    };
    for (const ReadCase& c : cases) {
        FakeApi api;
        api.read = c.script;
        auto owned = std::make_unique<Win32HidBackend>(api);
        Win32HidBackend& backend = *owned;
        const HidHandle handle = backend.Open(kPath, HidOpenMode::Io);
        std::uint8_t buffer[255] = {};
        std::size_t received = 99;
        EXPECT_EQ(backend.ReadInput(handle, buffer, sizeof buffer, received, 200), c.expected)
            << c.what;
        EXPECT_EQ(received, c.expectedReceived) << c.what;
        if (c.expected == HidReadResult::Data && received > 0) {
            EXPECT_EQ(std::vector<std::uint8_t>(buffer, buffer + received), c.script.report)
                << c.what;
        }
        if (c.cancels) {
            // Only this read's own record is cancelled, never every I/O of the
            // handle (which would take a write with it), and the cancel is
            // waited for.
            ASSERT_EQ(api.cancelled.size(), 1u) << c.what;
            EXPECT_NE(api.cancelled[0], nullptr) << c.what;
            EXPECT_EQ(api.cancelled[0], api.readOverlapped) << c.what;
            EXPECT_TRUE(api.resultWaited) << c.what;
        } else {
            EXPECT_TRUE(api.cancelled.empty()) << c.what;
        }
        EXPECT_TRUE(api.closed.empty()) << c.what << ": a read never closes the device";
        owned.reset();
        EXPECT_EQ(api.eventsCreated, api.eventsClosed) << c.what;
    }
}

// InterruptRead cancels only the waiting read's own record and that read ends
// as timed out; one that comes while no read waits ends the next read at once.
TEST(Win32HidBackend, InterruptEndsTheWaitingReadOrElseTheNextOne) {
    FakeApi api;
    api.read = {.resultReturns = FALSE, .resultError = ERROR_OPERATION_ABORTED};
    Win32HidBackend backend(api);
    const HidHandle handle = backend.Open(kPath, HidOpenMode::Io);
    std::uint8_t buffer[64] = {};
    std::size_t received = 99;

    api.onWait = [&] { backend.InterruptRead(handle); };
    EXPECT_EQ(backend.ReadInput(handle, buffer, sizeof buffer, received, 200),
              HidReadResult::TimedOut);
    ASSERT_EQ(api.cancelled.size(), 1u);
    EXPECT_EQ(api.cancelled[0], api.readOverlapped);
    EXPECT_TRUE(api.resultWaited);
    EXPECT_EQ(received, 0u);

    api.onWait = nullptr;
    backend.InterruptRead(handle);
    EXPECT_EQ(backend.ReadInput(handle, buffer, sizeof buffer, received, 200),
              HidReadResult::TimedOut);
    EXPECT_EQ(api.waits, 1) << "the second read must not wait at all";
    EXPECT_EQ(api.cancelled.size(), 2u);

    // Used up: the next read waits and takes its report.
    api.read = {.report = Report(64)};
    EXPECT_EQ(backend.ReadInput(handle, buffer, sizeof buffer, received, 200), HidReadResult::Data);
    EXPECT_EQ(received, 64u);
    EXPECT_EQ(api.waits, 2);

    // A report that completed just as the cancel came is kept.
    api.onWait = [&] { backend.InterruptRead(handle); };
    EXPECT_EQ(backend.ReadInput(handle, buffer, sizeof buffer, received, 200), HidReadResult::Data);
    EXPECT_EQ(received, 64u);

    // Values it does not know, and query handles, are left alone.
    api.onWait = nullptr;
    const std::size_t cancels = api.cancelled.size();
    backend.InterruptRead(0x4242);
    backend.InterruptRead(backend.Open(kPath, HidOpenMode::Query));
    EXPECT_EQ(api.cancelled.size(), cancels);
    backend.Close(handle);
    EXPECT_EQ(api.eventsCreated, api.eventsClosed);
}

// A block costs a report and a read: the read must not also cost an event's
// creation and closing. One event serves every read of an I/O handle and goes
// with it; query handles, never read from, have none.
TEST(Win32HidBackend, EveryReadOfAHandleWaitsOnItsOneEvent) {
    FakeApi api;
    Win32HidBackend backend(api);
    const HidHandle query = backend.Open(kPath, HidOpenMode::Query);
    EXPECT_EQ(api.eventsCreated, 0);
    const HidHandle handle = backend.Open(kPath, HidOpenMode::Io);
    std::uint8_t buffer[64] = {};
    std::size_t received = 0;
    const ReadScript reads[] = {
        {.report = Report(17)},
        {.waitResult = WAIT_TIMEOUT,
         .resultReturns = FALSE,
         .resultError = ERROR_OPERATION_ABORTED},
        {.report = Report(17)},
    };
    for (const ReadScript& read : reads) {
        api.read = read;
        backend.ReadInput(handle, buffer, sizeof buffer, received, 200);
        EXPECT_EQ(api.readOverlapped->hEvent, kEvent);
    }
    EXPECT_EQ(api.eventsCreated, 1);
    EXPECT_EQ(api.eventsClosed, 0);
    EXPECT_EQ(api.waitedOn, std::vector<HANDLE>(3, kEvent));
    EXPECT_TRUE(backend.Close(handle));
    EXPECT_EQ(api.eventsClosed, 1);
    EXPECT_TRUE(backend.Close(query));
    EXPECT_EQ(api.eventsClosed, 1);
}

TEST(Win32HidBackend, EventThatCannotBeMadeFailsTheOpenAndClosesTheDevice) {
    FakeApi api;
    api.eventFails = true;
    Win32HidBackend backend(api);
    EXPECT_EQ(backend.Open(kPath, HidOpenMode::Io), kInvalidHidHandle);
    EXPECT_EQ(api.closed.size(), 1u);
}

// An interface that is there but may not be opened is told apart from one
// that is missing: the backend's access note names it and says why.
TEST(Win32HidBackend, RefusedOpenLeavesANoteThatAMissingInterfaceDoesNot) {
    struct Case {
        const char* what;
        DWORD error;
        const char* note;  // nullptr: no note
    };
    const Case cases[] = {
        {"access denied", ERROR_ACCESS_DENIED, "refused to open it (access denied, error 5)"},
        {"held unshared by another program", ERROR_SHARING_VIOLATION,
         "another program holds it open without sharing it (error 32)"},
        {"missing", ERROR_FILE_NOT_FOUND, nullptr},
        {"removed", ERROR_DEVICE_NOT_CONNECTED, nullptr},
    };
    for (const Case& c : cases) {
        FakeApi api;
        api.openError = c.error;
        Win32HidBackend backend(api);
        EXPECT_EQ(backend.Open(kPath, HidOpenMode::Query), kInvalidHidHandle) << c.what;
        const std::string note = backend.AccessProblem();
        if (c.note == nullptr) {
            EXPECT_EQ(note, "") << c.what;
            continue;
        }
        EXPECT_NE(note.find(c.note), std::string::npos) << c.what << ": " << note;
        EXPECT_NE(note.find(std::string(kPath.begin(), kPath.end())), std::string::npos)
            << c.what << ": the note names the interface (and so its VID and PID)";
    }
}

// A stack that has dropped the device may leave a pending read pending for
// ever; the failed write is then the only sign. Its error marks the handle
// gone: the waiting read ends as gone, and so does every later one.
TEST(Win32HidBackend, WriteThatFindsTheDeviceGoneEndsTheReadsAsGone) {
    struct Case {
        const char* what;
        DWORD writeError;
        bool gone;
    };
    const Case cases[] = {
        {"not connected", ERROR_DEVICE_NOT_CONNECTED, true},
        {"device no longer exists", ERROR_DEV_NOT_EXIST, true},
        {"a refused report on a present device", ERROR_INVALID_PARAMETER, false},
    };
    for (const Case& c : cases) {
        FakeApi api;
        Win32HidBackend backend(api);
        const HidHandle handle = backend.Open(kPath, HidOpenMode::Io);
        const std::uint8_t report[4] = {0x21, 1, 2, 3};
        std::uint8_t buffer[64] = {};
        std::size_t received = 0;
        // The write fails while the read waits; the stack completes the read
        // only through the cancel.
        api.read = {.resultReturns = FALSE, .resultError = ERROR_OPERATION_ABORTED};
        api.reportReturns = FALSE;
        api.reportError = c.writeError;
        api.onWait = [&] { EXPECT_FALSE(backend.SetOutputReport(handle, report, sizeof report)); };
        const HidReadResult waiting =
            backend.ReadInput(handle, buffer, sizeof buffer, received, 200);
        api.onWait = nullptr;
        const int readsBefore = api.readCalls;
        const HidReadResult later = backend.ReadInput(handle, buffer, sizeof buffer, received, 200);
        if (c.gone) {
            EXPECT_EQ(waiting, HidReadResult::DeviceGone) << c.what;
            ASSERT_EQ(api.cancelled.size(), 1u) << c.what;
            EXPECT_EQ(api.cancelled[0], api.readOverlapped) << c.what;
            EXPECT_EQ(later, HidReadResult::DeviceGone) << c.what;
            EXPECT_EQ(api.readCalls, readsBefore) << c.what << ": no read on a gone device";
        } else {
            EXPECT_NE(waiting, HidReadResult::DeviceGone) << c.what;
            EXPECT_TRUE(api.cancelled.empty()) << c.what;
            EXPECT_NE(later, HidReadResult::DeviceGone) << c.what;
        }
    }
}

TEST(Win32HidBackend, QueryHandleIsNeverReadFrom) {
    FakeApi api;
    Win32HidBackend backend(api);
    const HidHandle handle = backend.Open(kPath, HidOpenMode::Query);
    std::uint8_t buffer[16];
    std::size_t received = 0;
    EXPECT_EQ(backend.ReadInput(handle, buffer, sizeof buffer, received, 200),
              HidReadResult::Failed);
    EXPECT_EQ(api.readCalls, 0);
}

HIDP_VALUE_CAPS ValueCaps(HIDP_REPORT_TYPE type, UCHAR reportId, USAGE usage) {
    HIDP_VALUE_CAPS caps{};
    caps.BitField = static_cast<USHORT>(type);  // the fake's report type
    caps.ReportID = reportId;
    caps.UsagePage = 0xFF0B;
    caps.NotRange.Usage = usage;
    return caps;
}

// One input value capability of `bitSize` x `count` bits.
HIDP_VALUE_CAPS InputValue(UCHAR reportId, USHORT bitSize, USHORT count) {
    HIDP_VALUE_CAPS caps = ValueCaps(HidP_Input, reportId, 0x26);
    caps.BitSize = bitSize;
    caps.ReportCount = count;
    return caps;
}

// The system pads every input report to the collection's longest: a read
// gives the length its own report declares, so that zeros past a short
// answer never read as its status (a content status 0 is success). Where the
// capabilities cannot tell that length, the read keeps what arrived.
TEST(Win32HidBackend, ReadGivesTheLengthItsReportDeclares) {
    HIDP_VALUE_CAPS range = InputValue(0x25, 8, 1);
    range.IsRange = TRUE;
    range.Range.UsageMin = 1;
    range.Range.UsageMax = 5;
    HIDP_VALUE_CAPS alias = InputValue(0x25, 8, 3);
    alias.IsAlias = TRUE;
    HIDP_BUTTON_CAPS button{};
    button.BitField = static_cast<USHORT>(HidP_Input);
    button.ReportID = 0x25;
    const HIDP_VALUE_CAPS longest = InputValue(0x26, 8, 64);
    struct Case {
        const char* what;
        std::vector<HIDP_VALUE_CAPS> values;
        std::vector<HIDP_BUTTON_CAPS> buttons;
        std::uint8_t readId;
        std::size_t expectedReceived;
    };
    const Case cases[] = {
        {"a shorter report is cut to its own length",
         {longest, InputValue(0x25, 8, 3)},
         {},
         0x25,
         4},
        {"the longest report keeps its length", {longest, InputValue(0x25, 8, 3)}, {}, 0x26, 65},
        {"a value range has a field per usage", {longest, range}, {}, 0x25, 6},
        {"an alias adds no bits", {longest, alias, InputValue(0x25, 8, 3)}, {}, 0x25, 4},
        {"bits add up across capabilities",
         {longest, InputValue(0x25, 4, 1), InputValue(0x25, 32, 2)},
         {},
         0x25,
         10},
        {"a report with buttons keeps what arrived",
         {longest, InputValue(0x25, 8, 3)},
         {button},
         0x25,
         65},
        {"capabilities short of the longest report (padding unseen): nothing is cut",
         {InputValue(0x26, 8, 60), InputValue(0x25, 8, 3)},
         {},
         0x25,
         65},
        {"a report of no capability keeps what arrived", {longest}, {}, 0x30, 65},
    };
    for (const Case& c : cases) {
        FakeApi api;
        api.caps.InputReportByteLength = 65;
        api.caps.NumberInputValueCaps = static_cast<USHORT>(c.values.size());
        api.caps.NumberInputButtonCaps = static_cast<USHORT>(c.buttons.size());
        api.valueCaps = c.values;
        api.buttonCaps = c.buttons;
        api.read.report.assign(65, 0);
        api.read.report[0] = c.readId;
        api.read.report[1] = 0x07;
        Win32HidBackend backend(api);
        const HidHandle handle = backend.Open(kPath, HidOpenMode::Io);
        std::uint8_t buffer[255] = {};
        std::size_t received = 0;
        EXPECT_EQ(backend.ReadInput(handle, buffer, sizeof buffer, received, 200),
                  HidReadResult::Data)
            << c.what;
        EXPECT_EQ(received, c.expectedReceived) << c.what;
        EXPECT_EQ(api.preparsedFreed, 1) << c.what;
    }
}

// A collection the system keeps to itself (a keyboard) refuses a query open,
// yet a handle without access still tells which collection it is, so that it
// is not taken for an earbud interface that cannot be opened.
TEST(Win32HidBackend, ACollectionThatRefusesOpeningIsDescribedWithoutAccess) {
    FakeApi api;
    api.refuseAccess = true;
    api.caps.UsagePage = 0x0001;
    api.caps.Usage = 0x0006;
    Win32HidBackend backend(api);
    EXPECT_EQ(backend.Open(kPath, HidOpenMode::Query), kInvalidHidHandle);
    HidCaps caps;
    ASSERT_TRUE(backend.DescribeUnopened(kPath, caps));
    EXPECT_EQ(api.access, 0u);
    EXPECT_EQ(caps.UsagePage, 0x0001);
    EXPECT_EQ(caps.Usage, 0x0006);
    EXPECT_EQ(api.closed.size(), 1u);
    EXPECT_EQ(api.preparsedFreed, 1);
    api.openError = ERROR_FILE_NOT_FOUND;
    EXPECT_FALSE(backend.DescribeUnopened(kPath, caps));
}

// The serial string is read through a handle without access (also where
// the interface may not be opened for reports) and never past its buffer.
TEST(Win32HidBackend, SerialIsReadWithoutAccessAndNeverPastItsBuffer) {
    struct Case {
        const char* name;
        std::optional<std::wstring> serial;
        bool refuseAccess;
        bool expected;
        std::u16string read;
    };
    const std::wstring longest(200, L'7');
    const Case cases[] = {
        {"a serial", L"A1B2", false, true, u"A1B2"},
        {"opening for reports refused", L"A1B2", true, true, u"A1B2"},
        {"no serial", std::nullopt, false, false, u""},
        {"an empty serial", L"", false, false, u""},
        {"longer than a string descriptor", longest, false, true, std::u16string(126, u'7')},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeApi api;
        api.serial = c.serial;
        api.refuseAccess = c.refuseAccess;
        Win32HidBackend backend(api);
        std::u16string serial = u"stale";
        EXPECT_EQ(backend.SerialNumber(kPath, serial), c.expected);
        EXPECT_EQ(serial, c.read);
        EXPECT_EQ(api.access, 0u);
        EXPECT_EQ(api.closed.size(), 1u);
    }
}

TEST(Win32HidBackend, DescriptorGivesCapsAndFindsValuesByUsage) {
    FakeApi api;
    api.caps.UsagePage = 0xFF0B;
    api.caps.Usage = 0x0104;
    api.caps.InputReportByteLength = 64;
    api.caps.OutputReportByteLength = 61;
    api.caps.FeatureReportByteLength = 60;
    api.caps.NumberInputValueCaps = 1;
    api.caps.NumberOutputValueCaps = 2;
    api.caps.NumberFeatureValueCaps = 1;
    api.valueCaps = {ValueCaps(HidP_Input, 0x22, 0x26), ValueCaps(HidP_Output, 0x2A, 0x31),
                     ValueCaps(HidP_Output, 0x2B, 0x35), ValueCaps(HidP_Feature, 0x20, 0x62)};
    Win32HidBackend backend(api);
    const HidHandle handle = backend.Open(kPath, HidOpenMode::Query);
    {
        const auto descriptor = backend.GetDescriptor(handle);
        ASSERT_NE(descriptor, nullptr);
        HidCaps caps;
        ASSERT_GE(descriptor->GetCaps(caps), 0);
        EXPECT_EQ(caps.UsagePage, 0xFF0B);
        EXPECT_EQ(caps.OutputReportByteLength, 61);
        EXPECT_EQ(caps.NumberOutputValueCaps, 2);

        std::vector<HidCapability> found;
        EXPECT_GE(descriptor->GetValueCaps(HidReportType::Output, found), 0);
        ASSERT_EQ(found.size(), 2u);
        EXPECT_EQ(found[1].ReportId, 0x2B);
        EXPECT_TRUE(found[1].Carries(0x35));

        EXPECT_GE(descriptor->GetSpecificValueCaps(HidReportType::Feature, 0, 0, 0x62, found), 0);
        ASSERT_EQ(found.size(), 1u);
        EXPECT_EQ(found[0].ReportId, 0x20);

        EXPECT_EQ(descriptor->GetSpecificValueCaps(HidReportType::Input, 0, 0, 0x62, found),
                  kHidStatusUsageNotFound);
        EXPECT_TRUE(found.empty());
        EXPECT_EQ(
            descriptor->GetSpecificValueCaps(static_cast<HidReportType>(5), 0, 0, 0x31, found),
            kHidStatusInvalidReportType);
    }
    EXPECT_EQ(api.preparsedFreed, 1);
}

// The read path against the system's own overlapped I/O, with a message-mode
// named pipe standing in for a device: each message is one report.
class PipeDevice {
  public:
    PipeDevice() {
        name_ = L"\\\\.\\pipe\\zelk-hid-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                std::to_wstring(++counter_);
        server_ = CreateNamedPipeW(name_.c_str(), PIPE_ACCESS_DUPLEX,
                                   PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT, 1, 4096,
                                   4096, 0, nullptr);
    }
    ~PipeDevice() { Unplug(); }
    PipeDevice(const PipeDevice&) = delete;
    PipeDevice& operator=(const PipeDevice&) = delete;

    std::u16string Path() const { return std::u16string(name_.begin(), name_.end()); }
    bool Ready() const { return server_ != INVALID_HANDLE_VALUE; }
    bool Send(const std::vector<std::uint8_t>& report) {
        DWORD written = 0;
        return WriteFile(server_, report.data(), static_cast<DWORD>(report.size()), &written,
                         nullptr) &&
               written == report.size();
    }
    void Unplug() {
        if (server_ != INVALID_HANDLE_VALUE) {
            DisconnectNamedPipe(server_);
            ::CloseHandle(server_);
            server_ = INVALID_HANDLE_VALUE;
        }
    }

  private:
    static inline int counter_ = 0;
    std::wstring name_;
    HANDLE server_ = INVALID_HANDLE_VALUE;
};

TEST(Win32HidBackendOnSystemIo, ReportsArriveTimeOutsLoseNothingAndTheReadNeverOutlivesTheCall) {
    PipeDevice device;
    ASSERT_TRUE(device.Ready());
    Win32HidBackend backend(SystemWin32HidApi());
    const HidHandle handle = backend.Open(device.Path(), HidOpenMode::Io);
    ASSERT_NE(handle, kInvalidHidHandle);

    std::vector<std::uint8_t> buffer(255, 0xEE);
    std::size_t received = 0;
    // Nothing sent: the wait ends, the read is cancelled and the buffer is
    // left alone afterwards.
    EXPECT_EQ(backend.ReadInput(handle, buffer.data(), buffer.size(), received, 50),
              HidReadResult::TimedOut);
    EXPECT_EQ(received, 0u);

    // A report sent after a time-out is not eaten by the cancelled read.
    const std::vector<std::uint8_t> report = Report(64);
    ASSERT_TRUE(device.Send(report));
    ASSERT_EQ(backend.ReadInput(handle, buffer.data(), buffer.size(), received, 2000),
              HidReadResult::Data);
    ASSERT_EQ(received, report.size());
    EXPECT_EQ(std::vector<std::uint8_t>(buffer.begin(), buffer.begin() + 64), report);

    // A report that arrives while the read waits.
    const std::vector<std::uint8_t> shorter = Report(9);
    std::thread sender([&] {
        Sleep(100);
        device.Send(shorter);
    });
    EXPECT_EQ(backend.ReadInput(handle, buffer.data(), buffer.size(), received, 5000),
              HidReadResult::Data);
    sender.join();
    EXPECT_EQ(received, shorter.size());

    // Many short waits in a row: each cancel finishes before the next read.
    for (int i = 0; i < 20; ++i) {
        EXPECT_EQ(backend.ReadInput(handle, buffer.data(), buffer.size(), received, 1),
                  HidReadResult::TimedOut);
    }
    ASSERT_TRUE(device.Send(report));
    EXPECT_EQ(backend.ReadInput(handle, buffer.data(), buffer.size(), received, 2000),
              HidReadResult::Data);
    EXPECT_EQ(received, report.size());

    // Told to stop, a read that would wait a minute ends at once, and the
    // report sent afterwards is still read.
    std::thread stopper([&] {
        Sleep(100);
        backend.InterruptRead(handle);
    });
    const auto waiting = std::chrono::steady_clock::now();
    EXPECT_EQ(backend.ReadInput(handle, buffer.data(), buffer.size(), received, 60000),
              HidReadResult::TimedOut);
    stopper.join();
    EXPECT_LT(std::chrono::steady_clock::now() - waiting, std::chrono::seconds(10));
    ASSERT_TRUE(device.Send(shorter));
    EXPECT_EQ(backend.ReadInput(handle, buffer.data(), buffer.size(), received, 2000),
              HidReadResult::Data);
    EXPECT_EQ(received, shorter.size());

    // The far end goes away: the read ends at once, without data.
    device.Unplug();
    const HidReadResult gone =
        backend.ReadInput(handle, buffer.data(), buffer.size(), received, 2000);
    EXPECT_NE(gone, HidReadResult::TimedOut);
    EXPECT_EQ(received, 0u);
    EXPECT_TRUE(backend.Close(handle));
}

// Spellings of one interface share its update lock; other interfaces,
// other collections of one device among them, have their own.
TEST(Win32HidBackend, UpdateLockNameIgnoresCaseAndTellsInterfacesApart) {
    struct Case {
        std::u16string first;
        std::u16string second;
        bool shared;
    };
    const Case cases[] = {
        {kPath, kPath, true},
        {kPath, u"\\\\?\\hid#vid_320f&pid_226b&mi_03#7&1&0&0000#{4D1E55B2-F16F}", true},
        {kPath, u"\\\\?\\HID#VID_320F&PID_226B&MI_02#7&1&0&0000#{4d1e55b2-f16f}", false},
        {u"\\\\?\\HID#VID_320F&PID_226B&MI_03&Col01#7&1",
         u"\\\\?\\HID#VID_320F&PID_226B&MI_03&Col02#7&1", false},
        {u"ab", u"ba", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.second.begin(), c.second.end()));
        EXPECT_EQ(UpdateLockName(c.first) == UpdateLockName(c.second), c.shared);
    }
    // A name the system takes: its namespace, then no backslash, short.
    const std::wstring name = UpdateLockName(std::u16string(400, u'\\'));
    EXPECT_EQ(name.rfind(L"Local\\", 0), 0u);
    EXPECT_EQ(name.find(L'\\', 6), std::wstring::npos);
    EXPECT_LT(name.size(), std::size_t{MAX_PATH});
}

// Update locks against the system's named mutexes. Two backends stand for two
// updater processes: a mutex belongs to a thread, and each lock has its own.
class Win32HidBackendLocks : public ::testing::Test {
  protected:
    void SetUp() override {
        wchar_t folder[MAX_PATH] = {};
        ASSERT_GT(GetTempPathW(MAX_PATH, folder), 0u);
        for (std::wstring& file : files_) {
            file = std::wstring(folder) + L"zelk-lock-" + std::to_wstring(GetCurrentProcessId()) +
                   L"-" + std::to_wstring(&file - files_) + L".bin";
            const HANDLE created = CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr,
                                               CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
            ASSERT_NE(created, INVALID_HANDLE_VALUE);
            ::CloseHandle(created);
        }
    }
    void TearDown() override {
        for (const std::wstring& file : files_) {
            DeleteFileW(file.c_str());
        }
    }
    std::u16string Path(int i) const { return std::u16string(files_[i].begin(), files_[i].end()); }

    std::wstring files_[2];
};

TEST_F(Win32HidBackendLocks, OneUpdaterPerInterfaceUntilUnlockOrClose) {
    Win32HidBackend mine(SystemWin32HidApi());
    Win32HidBackend other(SystemWin32HidApi());
    const HidHandle first = mine.Open(Path(0), HidOpenMode::Io);
    const HidHandle second = mine.Open(Path(0), HidOpenMode::Io);
    const HidHandle query = mine.Open(Path(0), HidOpenMode::Query);
    const HidHandle elsewhere = other.Open(Path(0), HidOpenMode::Io);
    const HidHandle otherInterface = other.Open(Path(1), HidOpenMode::Io);
    for (const HidHandle handle : {first, second, query, elsewhere, otherInterface}) {
        ASSERT_NE(handle, kInvalidHidHandle);
    }

    EXPECT_EQ(mine.LockForUpdate(query), HidLockResult::Failed);
    EXPECT_EQ(mine.LockForUpdate(kInvalidHidHandle), HidLockResult::Failed);
    EXPECT_EQ(mine.LockForUpdate(first), HidLockResult::Taken);
    EXPECT_EQ(mine.LockForUpdate(first), HidLockResult::Taken) << "again on the holder";
    EXPECT_EQ(other.LockForUpdate(elsewhere), HidLockResult::HeldElsewhere);
    EXPECT_EQ(mine.LockForUpdate(second), HidLockResult::HeldElsewhere)
        << "another handle on the same thread";
    EXPECT_EQ(other.LockForUpdate(otherInterface), HidLockResult::Taken);
    other.UnlockForUpdate(elsewhere);  // not the holder: changes nothing
    EXPECT_EQ(other.LockForUpdate(elsewhere), HidLockResult::HeldElsewhere);

    // Given up on another thread than the one that took it.
    std::thread([&] { mine.UnlockForUpdate(first); }).join();
    EXPECT_EQ(other.LockForUpdate(elsewhere), HidLockResult::Taken);
    EXPECT_EQ(mine.LockForUpdate(first), HidLockResult::HeldElsewhere);
    EXPECT_TRUE(other.Close(elsewhere));
    EXPECT_EQ(mine.LockForUpdate(first), HidLockResult::Taken) << "closing released it";

    // A backend that ends (the process going away) gives up what it holds.
    for (const HidHandle handle : {first, second, query}) {
        mine.Close(handle);
    }
    {
        Win32HidBackend ending(SystemWin32HidApi());
        ASSERT_EQ(ending.LockForUpdate(ending.Open(Path(0), HidOpenMode::Io)),
                  HidLockResult::Taken);
    }
    const HidHandle again = other.Open(Path(0), HidOpenMode::Io);
    EXPECT_EQ(other.LockForUpdate(again), HidLockResult::Taken);
}

// A holder that died without giving the lock up leaves the mutex abandoned:
// the next updater takes it rather than being refused for good.
TEST_F(Win32HidBackendLocks, LockWhoseHolderDiedIsTaken) {
    const std::wstring name = UpdateLockName(Path(0));
    HANDLE outside = nullptr;
    HANDLE letGo = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE holding = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ASSERT_NE(letGo, nullptr);
    ASSERT_NE(holding, nullptr);
    std::thread holder([&] {
        outside = CreateMutexW(nullptr, FALSE, name.c_str());
        WaitForSingleObject(outside, 0);
        SetEvent(holding);
        WaitForSingleObject(letGo, INFINITE);
    });  // ends without ReleaseMutex
    ASSERT_EQ(WaitForSingleObject(holding, 10000), WAIT_OBJECT_0);

    Win32HidBackend backend(SystemWin32HidApi());
    const HidHandle handle = backend.Open(Path(0), HidOpenMode::Io);
    ASSERT_NE(handle, kInvalidHidHandle);
    EXPECT_EQ(backend.LockForUpdate(handle), HidLockResult::HeldElsewhere);
    SetEvent(letGo);
    holder.join();
    EXPECT_EQ(backend.LockForUpdate(handle), HidLockResult::Taken);
    backend.Close(handle);
    ::CloseHandle(outside);
    ::CloseHandle(letGo);
    ::CloseHandle(holding);
}

// The real calls, on whatever the system has: Wine lists no HID interfaces
// unless its bus sees one, and a made-up path never opens.
TEST(Win32HidBackend, RealSystemCallsAnswerWithoutFailing) {
    Win32HidBackend backend(SystemWin32HidApi());
    std::vector<std::u16string> paths;
    EXPECT_EQ(backend.ListInterfaces(paths), 0);
    EXPECT_EQ(backend.Open(u"\\\\?\\hid#vid_0000&pid_0000#no-such-device", HidOpenMode::Io),
              kInvalidHidHandle);
    for (const std::u16string& path : paths) {
        const HidHandle handle = backend.Open(path, HidOpenMode::Query);
        if (handle != kInvalidHidHandle) {
            EXPECT_TRUE(backend.Close(handle));
        }
    }
}

// What a WM_DEVICECHANGE to the watch's window comes to: only the arrival or
// removal of a device interface wakes the waiter, once per batch.
TEST(Win32ChangeWatch, InterfaceArrivalAndRemovalWakeTheWaiter) {
    struct Case {
        const char* name;
        WPARAM event;
        DWORD deviceType;
        bool signals;
    };
    const std::vector<Case> cases = {
        {"interface arrived", DBT_DEVICEARRIVAL, DBT_DEVTYP_DEVICEINTERFACE, true},
        {"interface removed", DBT_DEVICEREMOVECOMPLETE, DBT_DEVTYP_DEVICEINTERFACE, true},
        {"a volume arrived", DBT_DEVICEARRIVAL, DBT_DEVTYP_VOLUME, false},
        {"removal asked, not done", DBT_DEVICEQUERYREMOVE, DBT_DEVTYP_DEVICEINTERFACE, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeApi api;
        {
            Win32HidBackend backend(api);
            auto watch = backend.WatchInterfaces();
            ASSERT_NE(watch, nullptr);
            EXPECT_EQ(watch->Mechanism(), "device-interface notifications");
            auto* own = dynamic_cast<Win32ChangeWatch*>(watch.get());
            ASSERT_NE(own, nullptr);
            ASSERT_NE(own->Window(), nullptr);
            EXPECT_EQ(api.notifiedWindow, own->Window());
            GUID hid;
            api.GetHidGuid(&hid);
            EXPECT_EQ(std::memcmp(&api.notifiedGuid, &hid, sizeof hid), 0);
            EXPECT_FALSE(watch->WaitForChange(0));

            DEV_BROADCAST_DEVICEINTERFACE_W broadcast{};
            broadcast.dbcc_size = sizeof broadcast;
            broadcast.dbcc_devicetype = c.deviceType;
            // Sent before the wait (and twice): the wait still sees it, once.
            for (int i = 0; i < 2; ++i) {
                SendMessageW(own->Window(), WM_DEVICECHANGE, c.event,
                             reinterpret_cast<LPARAM>(&broadcast));
            }
            EXPECT_EQ(watch->WaitForChange(c.signals ? 10000 : 50), c.signals);
            EXPECT_FALSE(watch->WaitForChange(0));
        }
        EXPECT_EQ(api.unregistered, 1);
    }
}

TEST(Win32ChangeWatch, NoWatchWhenTheRegistrationIsRefused) {
    FakeApi api;
    api.refuseNotification = true;
    Win32HidBackend backend(api);
    EXPECT_EQ(backend.WatchInterfaces(), nullptr);
    EXPECT_EQ(api.unregistered, 0);
}

// The system's own registration (Wine's, where the tests run): nothing is
// plugged in, so the wait runs out; a notification sent to the window wakes it.
TEST(Win32ChangeWatch, RealRegistrationWaitsAndWakes) {
    Win32HidBackend backend(SystemWin32HidApi());
    auto watch = backend.WatchInterfaces();
    ASSERT_NE(watch, nullptr);
    EXPECT_FALSE(watch->WaitForChange(200));
    DEV_BROADCAST_DEVICEINTERFACE_W broadcast{};
    broadcast.dbcc_size = sizeof broadcast;
    broadcast.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    SendMessageW(dynamic_cast<Win32ChangeWatch&>(*watch).Window(), WM_DEVICECHANGE,
                 DBT_DEVICEARRIVAL, reinterpret_cast<LPARAM>(&broadcast));
    EXPECT_TRUE(watch->WaitForChange(10000));
}

}  // namespace
}  // namespace zelk::hid::win32

#endif  // _WIN32
