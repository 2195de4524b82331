#include "hidtransport/windows/win32_hid_backend.h"

#include <algorithm>
#include <array>
#include <condition_variable>
#include <limits>
#include <new>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "hidtransport/windows/win32_change_watch.h"

namespace zelk::hid::win32 {
namespace {

// A device plugged in between the size query and the list query makes the
// list longer than the size said; the pair is asked again this often.
constexpr int kListAttempts = 3;

HidHandle ValueOf(HANDLE handle) {
    return static_cast<HidHandle>(reinterpret_cast<std::uintptr_t>(handle));
}

std::wstring Wide(std::u16string_view text) {
    return std::wstring(text.begin(), text.end());
}

bool ValidReportType(HidReportType type) {
    return type == HidReportType::Input || type == HidReportType::Output ||
           type == HidReportType::Feature;
}

HidCapability FromValueCaps(const HIDP_VALUE_CAPS& caps) {
    HidCapability out;
    out.ReportId = caps.ReportID;
    out.UsagePage = caps.UsagePage;
    out.IsRange = caps.IsRange != FALSE;
    out.UsageMin = out.IsRange ? caps.Range.UsageMin : caps.NotRange.Usage;
    out.UsageMax = out.IsRange ? caps.Range.UsageMax : caps.NotRange.Usage;
    out.LinkCollection = caps.LinkCollection;
    return out;
}

HidCapability FromButtonCaps(const HIDP_BUTTON_CAPS& caps) {
    HidCapability out;
    out.ReportId = caps.ReportID;
    out.UsagePage = caps.UsagePage;
    out.IsRange = caps.IsRange != FALSE;
    out.UsageMin = out.IsRange ? caps.Range.UsageMin : caps.NotRange.Usage;
    out.UsageMax = out.IsRange ? caps.Range.UsageMax : caps.NotRange.Usage;
    out.LinkCollection = caps.LinkCollection;
    return out;
}

// Preparsed data of one interface; freed with the object.
class Win32HidDescriptor final : public HidDescriptor {
  public:
    Win32HidDescriptor(Win32HidApi& api, PHIDP_PREPARSED_DATA data) : api_(api), data_(data) {}
    ~Win32HidDescriptor() override { api_.FreePreparsedData(data_); }
    Win32HidDescriptor(const Win32HidDescriptor&) = delete;
    Win32HidDescriptor& operator=(const Win32HidDescriptor&) = delete;

    HidStatus GetCaps(HidCaps& caps) const override {
        HIDP_CAPS raw{};
        const NTSTATUS status = api_.GetCaps(data_, &raw);
        if (status < 0) {
            return status;
        }
        caps.Usage = raw.Usage;
        caps.UsagePage = raw.UsagePage;
        caps.InputReportByteLength = raw.InputReportByteLength;
        caps.OutputReportByteLength = raw.OutputReportByteLength;
        caps.FeatureReportByteLength = raw.FeatureReportByteLength;
        caps.NumberInputButtonCaps = raw.NumberInputButtonCaps;
        caps.NumberInputValueCaps = raw.NumberInputValueCaps;
        caps.NumberOutputButtonCaps = raw.NumberOutputButtonCaps;
        caps.NumberOutputValueCaps = raw.NumberOutputValueCaps;
        caps.NumberFeatureButtonCaps = raw.NumberFeatureButtonCaps;
        caps.NumberFeatureValueCaps = raw.NumberFeatureValueCaps;
        return status;
    }

    HidStatus GetValueCaps(HidReportType type, std::vector<HidCapability>& out) const override {
        return ReadCaps<HIDP_VALUE_CAPS>(
            type, /*buttons=*/false, out,
            [this](HIDP_REPORT_TYPE reportType, HIDP_VALUE_CAPS* raw, USHORT* count) {
                return api_.GetValueCaps(reportType, raw, count, data_);
            },
            FromValueCaps);
    }

    HidStatus GetButtonCaps(HidReportType type, std::vector<HidCapability>& out) const override {
        return ReadCaps<HIDP_BUTTON_CAPS>(
            type, /*buttons=*/true, out,
            [this](HIDP_REPORT_TYPE reportType, HIDP_BUTTON_CAPS* raw, USHORT* count) {
                return api_.GetButtonCaps(reportType, raw, count, data_);
            },
            FromButtonCaps);
    }

    // Value and button capabilities are read alike: as many records as the
    // collection's caps announce, of which only those the call filled count.
    template <typename Raw, typename Call, typename Convert>
    HidStatus ReadCaps(HidReportType type, bool buttons, std::vector<HidCapability>& out, Call call,
                       Convert convert) const {
        out.clear();
        HidCaps caps;
        if (!ValidReportType(type)) {
            return kHidStatusInvalidReportType;
        }
        if (const HidStatus status = GetCaps(caps); status < 0) {
            return status;
        }
        USHORT count = CountFor(caps, type, buttons);
        if (count == 0) {
            return kHidStatusSuccess;
        }
        std::vector<Raw> raw(count);
        const NTSTATUS status = call(static_cast<HIDP_REPORT_TYPE>(type), raw.data(), &count);
        if (status < 0) {
            return status;
        }
        count = std::min<USHORT>(count, static_cast<USHORT>(raw.size()));
        for (USHORT i = 0; i < count; ++i) {
            out.push_back(convert(raw[i]));
        }
        return status;
    }

    HidStatus GetSpecificValueCaps(HidReportType type, std::uint16_t usagePage,
                                   std::uint16_t linkCollection, std::uint16_t usage,
                                   std::vector<HidCapability>& out) const override {
        out.clear();
        if (!ValidReportType(type)) {
            return kHidStatusInvalidReportType;
        }
        HidCaps caps;
        if (const HidStatus status = GetCaps(caps); status < 0) {
            return status;
        }
        // Room for every value capability of the interface, whatever its type.
        const unsigned total = unsigned{caps.NumberInputValueCaps} + caps.NumberOutputValueCaps +
                               caps.NumberFeatureValueCaps;
        if (total == 0) {
            return kHidStatusUsageNotFound;
        }
        std::vector<HIDP_VALUE_CAPS> raw(std::min(total, 0xFFFFu));
        USHORT count = static_cast<USHORT>(raw.size());
        const NTSTATUS status =
            api_.GetSpecificValueCaps(static_cast<HIDP_REPORT_TYPE>(type), usagePage,
                                      linkCollection, usage, raw.data(), &count, data_);
        if (status < 0) {
            return status;
        }
        count = std::min<USHORT>(count, static_cast<USHORT>(raw.size()));
        if (count == 0) {
            return kHidStatusUsageNotFound;
        }
        for (USHORT i = 0; i < count; ++i) {
            out.push_back(FromValueCaps(raw[i]));
        }
        return status;
    }

  private:
    static USHORT CountFor(const HidCaps& caps, HidReportType type, bool buttons) {
        switch (type) {
            case HidReportType::Input:
                return buttons ? caps.NumberInputButtonCaps : caps.NumberInputValueCaps;
            case HidReportType::Output:
                return buttons ? caps.NumberOutputButtonCaps : caps.NumberOutputValueCaps;
            case HidReportType::Feature:
                return buttons ? caps.NumberFeatureButtonCaps : caps.NumberFeatureValueCaps;
        }
        return 0;
    }

    Win32HidApi& api_;
    PHIDP_PREPARSED_DATA data_;
};

// The declared length of each input report (ID byte included) from the
// collection's capabilities: a value capability adds BitSize x ReportCount
// bits (a range at least one field per usage; an alias names the bits of
// another capability and adds none). Button capabilities do not say their
// size, so a report with buttons stays unknown (0). Capabilities do not show
// constant padding either: the lengths hold only when the longest one comes
// to the collection's input length, so that nothing of it went unseen; false
// otherwise.
bool DeclaredInputLengths(Win32HidApi& api, PHIDP_PREPARSED_DATA data,
                          std::array<std::uint16_t, 256>& lengths) {
    HIDP_CAPS caps{};
    if (api.GetCaps(data, &caps) < 0 || caps.InputReportByteLength == 0) {
        return false;
    }
    std::array<std::uint64_t, 256> bits{};
    std::array<bool, 256> buttons{};
    if (caps.NumberInputValueCaps > 0) {
        std::vector<HIDP_VALUE_CAPS> values(caps.NumberInputValueCaps);
        USHORT count = caps.NumberInputValueCaps;
        if (api.GetValueCaps(HidP_Input, values.data(), &count, data) < 0) {
            return false;
        }
        values.resize(std::min<std::size_t>(count, values.size()));
        for (const HIDP_VALUE_CAPS& value : values) {
            if (value.IsAlias) {
                continue;
            }
            std::uint64_t fields = value.ReportCount;
            if (value.IsRange && value.Range.UsageMax >= value.Range.UsageMin) {
                fields = std::max<std::uint64_t>(fields,
                                                 value.Range.UsageMax - value.Range.UsageMin + 1u);
            }
            bits[value.ReportID] += std::uint64_t{value.BitSize} * fields;
        }
    }
    if (caps.NumberInputButtonCaps > 0) {
        std::vector<HIDP_BUTTON_CAPS> found(caps.NumberInputButtonCaps);
        USHORT count = caps.NumberInputButtonCaps;
        if (api.GetButtonCaps(HidP_Input, found.data(), &count, data) < 0) {
            return false;
        }
        found.resize(std::min<std::size_t>(count, found.size()));
        for (const HIDP_BUTTON_CAPS& button : found) {
            buttons[button.ReportID] = true;
        }
    }
    lengths.fill(0);
    std::uint64_t longest = 0;
    for (std::size_t id = 0; id < bits.size(); ++id) {
        if (bits[id] == 0 || buttons[id]) {
            continue;
        }
        const std::uint64_t length = 1 + (bits[id] + 7) / 8;
        if (length > caps.InputReportByteLength) {
            return false;
        }
        lengths[id] = static_cast<std::uint16_t>(length);
        longest = std::max(longest, length);
    }
    return longest == caps.InputReportByteLength;
}

// FNV-1a (64 bits) of the path's UTF-16 units, ASCII letters upper-cased
// (interface paths are ASCII; anything else is taken as it is, so that the
// name never depends on the locale).
std::uint64_t UpdateLockKey(std::u16string_view path) {
    std::uint64_t hash = 0xCBF29CE484222325ull;
    for (char16_t unit : path) {
        if (unit >= u'a' && unit <= u'z') {
            unit = static_cast<char16_t>(unit - u'a' + u'A');
        }
        for (const unsigned byte : {unit & 0xFFu, unsigned{unit} >> 8}) {
            hash = (hash ^ byte) * 0x100000001B3ull;
        }
    }
    return hash;
}

std::wstring UpdateLockNameOf(std::uint64_t key) {
    static constexpr wchar_t kDigits[] = L"0123456789ABCDEF";
    std::wstring name = L"Local\\ZelkUpdateTool-update-";
    for (int shift = 60; shift >= 0; shift -= 4) {
        name += kDigits[(key >> shift) & 0xF];
    }
    return name;
}

}  // namespace

std::wstring UpdateLockName(std::u16string_view path) {
    return UpdateLockNameOf(UpdateLockKey(path));
}

// One held update lock: a thread of its own takes the named mutex, says how
// that went and, when it took it, holds it until told to give it up. Should
// the process die meanwhile, the system marks the mutex abandoned, and the
// next updater takes it.
class Win32HidBackend::UpdateLock {
  public:
    // Returns the holder when the mutex was taken; otherwise null, with why.
    static std::unique_ptr<UpdateLock> Take(Win32HidApi& api, const std::wstring& name,
                                            HidLockResult& result) {
        auto lock = std::unique_ptr<UpdateLock>(new UpdateLock());
        try {
            lock->holder_ = std::thread([&api, name, raw = lock.get()] { raw->Hold(api, name); });
        } catch (const std::system_error&) {
            result = HidLockResult::Failed;
            return nullptr;
        }
        std::unique_lock guard(lock->mutex_);
        lock->changed_.wait(guard, [&] { return lock->tried_; });
        result = lock->result_;
        guard.unlock();
        if (result != HidLockResult::Taken) {
            lock->holder_.join();  // it has ended already
            return nullptr;
        }
        return lock;
    }

    ~UpdateLock() {
        {
            std::lock_guard guard(mutex_);
            release_ = true;
        }
        changed_.notify_all();
        if (holder_.joinable()) {
            holder_.join();
        }
    }
    UpdateLock(const UpdateLock&) = delete;
    UpdateLock& operator=(const UpdateLock&) = delete;

  private:
    UpdateLock() = default;

    void Hold(Win32HidApi& api, const std::wstring& name) {
        HidLockResult result = HidLockResult::Failed;
        const HANDLE mutex = api.OpenNamedMutex(name.c_str());
        if (mutex == nullptr) {
            // The mutex is there but was made by a program with other rights
            // (an elevated updater): it exists only while an updater has it
            // open, so another updater is at work.
            if (api.GetLastError() == ERROR_ACCESS_DENIED) {
                result = HidLockResult::HeldElsewhere;
            }
        } else {
            switch (api.WaitForSingleObject(mutex, 0)) {
                case WAIT_OBJECT_0:
                case WAIT_ABANDONED:  // its holder died without giving it up
                    result = HidLockResult::Taken;
                    break;
                case WAIT_TIMEOUT:
                    result = HidLockResult::HeldElsewhere;
                    break;
                default:
                    break;
            }
        }
        std::unique_lock guard(mutex_);
        tried_ = true;
        result_ = result;
        changed_.notify_all();
        if (result == HidLockResult::Taken) {
            changed_.wait(guard, [&] { return release_; });
            api.ReleaseMutex(mutex);
        }
        guard.unlock();
        if (mutex != nullptr) {
            api.CloseHandle(mutex);
        }
    }

    std::mutex mutex_;
    std::condition_variable changed_;
    bool tried_ = false;
    bool release_ = false;
    HidLockResult result_ = HidLockResult::Failed;
    std::thread holder_;
};

bool IsDeviceGoneError(DWORD error) {
    switch (error) {
        case ERROR_DEVICE_NOT_CONNECTED:  // 1167
        case ERROR_DEV_NOT_EXIST:         // 55
        case 433:                         // ERROR_NO_SUCH_DEVICE
        case ERROR_FILE_NOT_FOUND:        // 2: the interface is gone
        case ERROR_INVALID_HANDLE:        // 6: the handle was torn down under us
        case ERROR_BAD_COMMAND:           // 22: the stack refused the device
        case ERROR_GEN_FAILURE:           // 31: the device stopped functioning
            return true;
        default:
            return false;
    }
}

bool IsRefusedOpenError(DWORD error) {
    return error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION;
}

Win32HidBackend::Win32HidBackend(Win32HidApi& api) : api_(api) {}

Win32HidBackend::~Win32HidBackend() {
    locks_.clear();  // gives up every update lock still held
    for (const auto& [value, open] : open_) {
        api_.CloseHandle(open.handle);
        if (open.event != nullptr) {
            api_.CloseHandle(open.event);
        }
    }
}

std::unique_ptr<HidChangeWatch> Win32HidBackend::WatchInterfaces() {
    return Win32ChangeWatch::Make(api_);
}

std::string Win32HidBackend::AccessProblem() const {
    std::lock_guard lock(mutex_);
    return accessProblem_;
}

void Win32HidBackend::NoteRefusedOpen(DWORD error, std::u16string_view path) {
    std::string line = "The HID interface ";
    for (const char16_t c : path) {  // interface paths are ASCII
        line += c < 0x80 ? static_cast<char>(c) : '?';
    }
    if (error == ERROR_SHARING_VIOLATION) {
        line +=
            " is there but another program holds it open without sharing it (error 32). "
            "Close the program that uses the earbud (a companion app, a second updater), "
            "then try again.";
    } else {
        line +=
            " is there but Windows refused to open it (access denied, error 5). Close "
            "programs that may hold the earbud, or run the updater as administrator.";
    }
    std::lock_guard lock(mutex_);
    accessProblem_ = std::move(line);
}

void Win32HidBackend::Report(const wchar_t* call, DWORD error, std::u16string_view detail) {
    std::wstring line = L"zelk hid: ";
    line += call;
    line += L" failed: error " + std::to_wstring(error);
    if (!detail.empty()) {
        line += L" (" + Wide(detail) + L")";
    }
    line += L"\n";
    api_.DebugString(line.c_str());
}

bool Win32HidBackend::Lookup(HidHandle handle, OpenHandle& open) {
    std::lock_guard lock(mutex_);
    const auto found = open_.find(handle);
    if (found == open_.end()) {
        return false;
    }
    open = found->second;
    return true;
}

int Win32HidBackend::ListInterfaces(std::vector<std::u16string>& paths) {
    GUID guid{};
    api_.GetHidGuid(&guid);
    std::vector<wchar_t> list;
    for (int attempt = 0;; ++attempt) {
        ULONG length = 0;
        const CONFIGRET sizeResult = api_.GetInterfaceListSize(&length, &guid);
        if (sizeResult != CR_SUCCESS) {
            Report(L"CM_Get_Device_Interface_List_SizeW", sizeResult);
            // Wine 8's configuration manager has only a stub here; the setup
            // API lists the same interfaces.
            std::vector<std::wstring> found;
            if (attempt > 0 || !api_.ListInterfacesBySetupApi(&guid, found)) {
                return 1;
            }
            paths.clear();
            for (const std::wstring& path : found) {
                paths.emplace_back(path.begin(), path.end());
            }
            return 0;
        }
        if (length == 0) {
            paths.clear();
            return 0;
        }
        try {
            list.assign(length, L'\0');
        } catch (const std::bad_alloc&) {
            Report(L"allocating the interface list", ERROR_NOT_ENOUGH_MEMORY);
            return 2;
        }
        const CONFIGRET listResult = api_.GetInterfaceList(&guid, list.data(), length);
        if (listResult == CR_SUCCESS) {
            break;
        }
        if (listResult != CR_BUFFER_SMALL || attempt + 1 >= kListAttempts) {
            Report(L"CM_Get_Device_Interface_ListW", listResult);
            return 3;
        }
    }
    // A list that the system did not end properly still ends with the buffer.
    paths.clear();
    auto at = list.begin();
    while (at != list.end() && *at != L'\0') {
        const auto end = std::find(at, list.end(), L'\0');
        paths.emplace_back(at, end);
        at = end == list.end() ? end : end + 1;
    }
    return 0;
}

HidHandle Win32HidBackend::Open(std::u16string_view path, HidOpenMode mode) {
    // The call needs a NUL-terminated copy; a path with a NUL inside would be
    // cut short and could open another interface, so it is refused.
    if (path.empty() || path.find(u'\0') != std::u16string_view::npos) {
        Report(L"CreateFileW", ERROR_INVALID_NAME, u"empty path or a NUL inside it");
        return kInvalidHidHandle;
    }
    const std::wstring wide = Wide(path);
    const bool io = mode == HidOpenMode::Io;
    const HANDLE handle =
        api_.OpenPath(wide.c_str(), io ? (GENERIC_READ | GENERIC_WRITE) : GENERIC_READ,
                      FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING,
                      io ? FILE_FLAG_OVERLAPPED : FILE_ATTRIBUTE_NORMAL);
    if (handle == INVALID_HANDLE_VALUE || handle == nullptr) {
        const DWORD error = api_.GetLastError();
        Report(L"CreateFileW", error, path);
        // There, but not for us: told apart from an interface that is missing.
        if (IsRefusedOpenError(error)) {
            NoteRefusedOpen(error, path);
        }
        return kInvalidHidHandle;
    }
    // One event for every read on the handle: a read per block must not cost
    // an event's creation and closing.
    HANDLE event = nullptr;
    if (io) {
        event = api_.NewEvent();
        if (event == nullptr) {
            Report(L"CreateEventW", api_.GetLastError(), path);
            api_.CloseHandle(handle);
            return kInvalidHidHandle;
        }
    }
    OpenHandle entry;
    entry.handle = handle;
    entry.mode = mode;
    entry.event = event;
    entry.lockKey = UpdateLockKey(path);
    if (io) {
        entry.inputLengths = ReadInputLengths(handle);
    }
    const HidHandle value = ValueOf(handle);
    std::lock_guard lock(mutex_);
    open_[value] = entry;
    return value;
}

bool Win32HidBackend::Close(HidHandle handle) {
    OpenHandle open;
    {
        std::lock_guard lock(mutex_);
        const auto found = open_.find(handle);
        if (found == open_.end()) {
            return false;
        }
        open = found->second;
        open_.erase(found);
    }
    // Before the system handle goes: its value may come back from the next
    // open, which must not find this lock.
    UnlockForUpdate(handle);
    if (!api_.CloseHandle(open.handle)) {
        Report(L"CloseHandle", api_.GetLastError());
    }
    if (open.event != nullptr) {
        api_.CloseHandle(open.event);
    }
    return true;
}

std::shared_ptr<const Win32HidBackend::InputLengths> Win32HidBackend::ReadInputLengths(
    HANDLE handle) {
    PHIDP_PREPARSED_DATA data = nullptr;
    if (!api_.GetPreparsedData(handle, &data) || data == nullptr) {
        return nullptr;
    }
    auto lengths = std::make_shared<InputLengths>();
    const bool known = DeclaredInputLengths(api_, data, *lengths);
    api_.FreePreparsedData(data);
    return known ? lengths : nullptr;
}

std::size_t Win32HidBackend::DeliveredLength(const OpenHandle& open, const std::uint8_t* buffer,
                                             std::size_t received) {
    if (open.inputLengths == nullptr || received == 0) {
        return received;
    }
    const std::size_t declared = (*open.inputLengths)[buffer[0]];
    return declared != 0 ? std::min(declared, received) : received;
}

HidLockResult Win32HidBackend::LockForUpdate(HidHandle handle) {
    std::lock_guard guard(lockMutex_);
    OpenHandle open;
    if (!Lookup(handle, open) || open.mode != HidOpenMode::Io) {
        return HidLockResult::Failed;
    }
    if (locks_.count(handle) != 0) {
        return HidLockResult::Taken;
    }
    HidLockResult result = HidLockResult::Failed;
    std::unique_ptr<UpdateLock> lock =
        UpdateLock::Take(api_, UpdateLockNameOf(open.lockKey), result);
    if (lock != nullptr) {
        locks_[handle] = std::move(lock);
    }
    return result;
}

void Win32HidBackend::UnlockForUpdate(HidHandle handle) {
    std::unique_ptr<UpdateLock> lock;
    std::lock_guard guard(lockMutex_);
    const auto found = locks_.find(handle);
    if (found != locks_.end()) {
        lock = std::move(found->second);
        locks_.erase(found);
    }
}

std::unique_ptr<HidDescriptor> Win32HidBackend::GetDescriptor(HidHandle handle) {
    OpenHandle open;
    if (!Lookup(handle, open)) {
        return nullptr;
    }
    PHIDP_PREPARSED_DATA data = nullptr;
    if (!api_.GetPreparsedData(open.handle, &data) || data == nullptr) {
        Report(L"HidD_GetPreparsedData", api_.GetLastError());
        return nullptr;
    }
    return std::make_unique<Win32HidDescriptor>(api_, data);
}

HANDLE Win32HidBackend::OpenWithoutAccess(std::u16string_view path) {
    if (path.empty() || path.find(u'\0') != std::u16string_view::npos) {
        return nullptr;
    }
    // No access asked: the system gives such a handle also for the
    // collections it keeps to itself (keyboards, mice) and for interfaces
    // that may not be opened for reports; it is enough for the preparsed data
    // and the strings.
    const std::wstring wide = Wide(path);
    const HANDLE handle = api_.OpenPath(wide.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL);
    return handle == INVALID_HANDLE_VALUE ? nullptr : handle;
}

bool Win32HidBackend::DescribeUnopened(std::u16string_view path, HidCaps& caps) {
    const HANDLE handle = OpenWithoutAccess(path);
    if (handle == nullptr) {
        return false;
    }
    PHIDP_PREPARSED_DATA data = nullptr;
    bool described = false;
    if (api_.GetPreparsedData(handle, &data) && data != nullptr) {
        described = Win32HidDescriptor(api_, data).GetCaps(caps) >= 0;
    }
    api_.CloseHandle(handle);
    return described;
}

bool Win32HidBackend::SerialNumber(std::u16string_view path, std::u16string& serial) {
    serial.clear();
    const HANDLE handle = OpenWithoutAccess(path);
    if (handle == nullptr) {
        return false;
    }
    // A USB string descriptor holds at most 126 characters; one more for the
    // NUL, which a string that fills the buffer may lack.
    wchar_t buffer[127] = {};
    const bool read = api_.GetSerialNumberString(handle, buffer, sizeof buffer - sizeof(wchar_t));
    api_.CloseHandle(handle);
    if (!read) {
        return false;
    }
    for (std::size_t i = 0; i < 126 && buffer[i] != L'\0'; ++i) {
        serial.push_back(static_cast<char16_t>(buffer[i]));
    }
    return !serial.empty();
}

bool Win32HidBackend::SetOutputReport(HidHandle handle, const std::uint8_t* report,
                                      std::size_t length) {
    OpenHandle open;
    if (report == nullptr || length == 0 || length > std::numeric_limits<ULONG>::max() ||
        !Lookup(handle, open)) {
        return false;
    }
    // The call takes a writable pointer but only reads the report.
    if (!api_.SetOutputReport(open.handle, const_cast<std::uint8_t*>(report),
                              static_cast<ULONG>(length))) {
        const DWORD error = api_.GetLastError();
        Report(L"HidD_SetOutputReport", error);
        NoteFailedTransfer(handle, error);
        return false;
    }
    return true;
}

bool Win32HidBackend::SetFeature(HidHandle handle, const std::uint8_t* report, std::size_t length) {
    OpenHandle open;
    if (report == nullptr || length == 0 || length > std::numeric_limits<ULONG>::max() ||
        !Lookup(handle, open)) {
        return false;
    }
    if (!api_.SetFeature(open.handle, const_cast<std::uint8_t*>(report),
                         static_cast<ULONG>(length))) {
        const DWORD error = api_.GetLastError();
        Report(L"HidD_SetFeature", error);
        NoteFailedTransfer(handle, error);
        return false;
    }
    return true;
}

bool Win32HidBackend::GetFeature(HidHandle handle, std::uint8_t* buffer, std::size_t length) {
    OpenHandle open;
    if (buffer == nullptr || length == 0 || length > std::numeric_limits<ULONG>::max() ||
        !Lookup(handle, open)) {
        return false;
    }
    if (!api_.GetFeature(open.handle, buffer, static_cast<ULONG>(length))) {
        const DWORD error = api_.GetLastError();
        Report(L"HidD_GetFeature", error);
        NoteFailedTransfer(handle, error);
        return false;
    }
    return true;
}

HidReadResult Win32HidBackend::ReadInput(HidHandle handle, std::uint8_t* buffer,
                                         std::size_t capacity, std::size_t& received,
                                         std::uint32_t timeoutMs) {
    received = 0;
    OpenHandle open;
    if (buffer == nullptr || capacity == 0 || !Lookup(handle, open)) {
        return HidReadResult::Failed;
    }
    if (open.mode != HidOpenMode::Io) {
        // A query handle is not overlapped: a read on it could block for ever.
        return HidReadResult::Failed;
    }
    if (open.gone) {
        return HidReadResult::DeviceGone;
    }
    // The read resets the event as it starts.
    OVERLAPPED overlapped{};
    overlapped.hEvent = open.event;
    const DWORD length = static_cast<DWORD>(std::min<std::size_t>(capacity, MAXDWORD));

    DWORD transferred = 0;
    if (!api_.ReadFile(open.handle, buffer, length, &overlapped)) {
        const DWORD error = api_.GetLastError();
        if (error != ERROR_IO_PENDING) {
            Report(L"ReadFile", error);
            return IsDeviceGoneError(error) ? HidReadResult::DeviceGone : HidReadResult::Failed;
        }
        const bool waiting = BeginWait(handle, &overlapped);
        const DWORD waited =
            waiting ? api_.WaitForSingleObject(open.event, timeoutMs) : WAIT_TIMEOUT;
        // True when InterruptRead has cancelled the read already.
        const bool interrupted = waiting && EndWait(handle);
        if (interrupted || waited != WAIT_OBJECT_0) {
            // Cancel only this read (never a write on the same handle), then
            // wait until the cancel has finished so that nothing lands in
            // `buffer` after the return. A report that completed meanwhile is
            // kept; otherwise the read ends as timed out.
            if (!interrupted && !api_.CancelIoEx(open.handle, &overlapped)) {
                const DWORD cancelError = api_.GetLastError();
                if (cancelError != ERROR_NOT_FOUND) {  // NOT_FOUND: it had just finished
                    Report(L"CancelIoEx", cancelError);
                }
            }
            if (api_.GetOverlappedResult(open.handle, &overlapped, &transferred, TRUE)) {
                received =
                    DeliveredLength(open, buffer, std::min<std::size_t>(transferred, capacity));
                return HidReadResult::Data;
            }
            const DWORD error2 = api_.GetLastError();
            if (IsDeviceGoneError(error2) || Gone(handle)) {
                Report(L"ReadFile", error2);
                return HidReadResult::DeviceGone;
            }
            return HidReadResult::TimedOut;
        }
    }
    if (!api_.GetOverlappedResult(open.handle, &overlapped, &transferred, TRUE)) {
        const DWORD error = api_.GetLastError();
        Report(L"GetOverlappedResult", error);
        if (IsDeviceGoneError(error) || Gone(handle)) {
            return HidReadResult::DeviceGone;
        }
        // A read that completed with an error: delivered with no bytes.
        return HidReadResult::Data;
    }
    received = DeliveredLength(open, buffer, std::min<std::size_t>(transferred, capacity));
    return HidReadResult::Data;
}

void Win32HidBackend::NoteFailedTransfer(HidHandle handle, DWORD error) {
    if (!IsDeviceGoneError(error)) {
        return;
    }
    // The device is gone: a read waiting on it may never end (a stack that
    // has dropped the device need not complete it), so it is cancelled, and
    // it and every later read say so.
    std::lock_guard lock(mutex_);
    const auto found = open_.find(handle);
    if (found == open_.end()) {
        return;
    }
    found->second.gone = true;
    if (found->second.pendingRead != nullptr) {
        found->second.readInterrupted = true;
        if (!api_.CancelIoEx(found->second.handle, found->second.pendingRead)) {
            const DWORD cancelError = api_.GetLastError();
            if (cancelError != ERROR_NOT_FOUND) {
                Report(L"CancelIoEx", cancelError);
            }
        }
    }
}

bool Win32HidBackend::Gone(HidHandle handle) {
    std::lock_guard lock(mutex_);
    const auto found = open_.find(handle);
    return found != open_.end() && found->second.gone;
}

bool Win32HidBackend::BeginWait(HidHandle handle, OVERLAPPED* overlapped) {
    std::lock_guard lock(mutex_);
    const auto found = open_.find(handle);
    if (found == open_.end()) {
        return true;
    }
    if (found->second.interruptNext) {
        found->second.interruptNext = false;
        return false;
    }
    found->second.pendingRead = overlapped;
    found->second.readInterrupted = false;
    return true;
}

bool Win32HidBackend::EndWait(HidHandle handle) {
    std::lock_guard lock(mutex_);
    const auto found = open_.find(handle);
    if (found == open_.end()) {
        return false;
    }
    found->second.pendingRead = nullptr;
    const bool interrupted = found->second.readInterrupted;
    found->second.readInterrupted = false;
    return interrupted;
}

void Win32HidBackend::InterruptRead(HidHandle handle) {
    std::lock_guard lock(mutex_);
    const auto found = open_.find(handle);
    if (found == open_.end() || found->second.mode != HidOpenMode::Io) {
        return;
    }
    OpenHandle& open = found->second;
    if (open.pendingRead == nullptr) {
        open.interruptNext = true;
        return;
    }
    // Under the lock: the waiting read unregisters its record, which lives in
    // its frame, before it returns, so the record is alive here. The cancel
    // ends the wait; a read that had just finished is not affected.
    open.readInterrupted = true;
    if (!api_.CancelIoEx(open.handle, open.pendingRead)) {
        const DWORD error = api_.GetLastError();
        if (error != ERROR_NOT_FOUND) {
            Report(L"CancelIoEx", error);
        }
    }
}

}  // namespace zelk::hid::win32
