#include "app/window/win32/win32_desktop.h"

#include <commdlg.h>
#include <richedit.h>

#include <string>
#include <vector>

namespace zelk::app::win32 {
namespace {

std::wstring Wide(std::u16string_view text) {
    return std::wstring(text.begin(), text.end());
}

std::u16string Narrow16(std::wstring_view text) {
    return std::u16string(text.begin(), text.end());
}

constexpr UINT kRunMessage = WM_APP + 1;
constexpr LONG kLogHeightTwips = 222;

// Bold at 222 twips with the given colour: every append carries the whole
// format, as a rich-edit control takes the format of inserted text from the
// text beside it rather than from its default format.
CHARFORMAT2W LogFormat(COLORREF colour) {
    CHARFORMAT2W format{};
    format.cbSize = sizeof format;
    format.dwMask = CFM_COLOR | CFM_BOLD | CFM_SIZE;
    format.dwEffects = CFE_BOLD;  // automatic colour off
    format.yHeight = kLogHeightTwips;
    format.crTextColor = colour;
    return format;
}
constexpr wchar_t kCallsClass[] = L"ZelkUpdateToolUiCalls";

LRESULT CALLBACK RunCalls(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == kRunMessage) {
        (*reinterpret_cast<const std::function<void()>*>(lParam))();
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace

UINT Win32Desktop::CloseMessage() {
    return WM_APP + 2;
}

Win32Desktop::Win32Desktop(HINSTANCE instance)
    : instance_(instance), uiThread_(std::this_thread::get_id()) {}

Win32Desktop::~Win32Desktop() {
    DetachWindow();
}

void Win32Desktop::AttachWindow(HWND dialog) {
    WNDCLASSW calls{};
    calls.lpfnWndProc = RunCalls;
    calls.hInstance = instance_;
    calls.lpszClassName = kCallsClass;
    RegisterClassW(&calls);  // fails harmlessly when already registered
    calls_ = CreateWindowExW(0, kCallsClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, instance_,
                             nullptr);
    dialog_ = dialog;
}

void Win32Desktop::DetachWindow() {
    dialog_ = nullptr;
    if (const HWND calls = calls_.exchange(nullptr)) {
        DestroyWindow(calls);
    }
}

std::wstring Win32Desktop::MessageCaption() const {
    wchar_t path[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring name(path, length < MAX_PATH ? length : 0);
    const auto slash = name.find_last_of(L"\\/");
    if (slash != std::wstring::npos) {
        name.erase(0, slash + 1);
    }
    const auto dot = name.find_last_of(L'.');
    if (dot != std::wstring::npos && dot > 0) {
        name.erase(dot);
    }
    return name;
}

void Win32Desktop::OnUi(const std::function<void()>& work) {
    const HWND dialog = dialog_;
    if (dialog == nullptr) {
        return;
    }
    if (std::this_thread::get_id() == uiThread_) {
        work();
        return;
    }
    // A window that is destroyed meanwhile makes the call return at once.
    if (const HWND calls = calls_) {
        SendMessageW(calls, kRunMessage, 0, reinterpret_cast<LPARAM>(&work));
    }
}

void Win32Desktop::SetControlText(int id, std::u16string_view text) {
    const std::wstring wide = Wide(text);
    OnUi([&] {
        SetDlgItemTextW(dialog_, id, wide.c_str());
        // A path box shows the end of its path: the file name, not the
        // start of a long directory.
        if (id == control::kOfferPathEdit || id == control::kPayloadPathEdit) {
            const HWND edit = GetDlgItem(dialog_, id);
            const int length = GetWindowTextLengthW(edit);
            SendMessageW(edit, EM_SETSEL, static_cast<WPARAM>(length), length);
            SendMessageW(edit, EM_SCROLLCARET, 0, 0);
        }
    });
}

std::u16string Win32Desktop::ControlText(int id) {
    std::wstring text;
    OnUi([&] {
        const HWND control = GetDlgItem(dialog_, id);
        if (control == nullptr) {
            return;
        }
        text.resize(static_cast<std::size_t>(GetWindowTextLengthW(control)) + 1);
        const int copied = GetWindowTextW(control, text.data(), static_cast<int>(text.size()));
        text.resize(copied > 0 ? static_cast<std::size_t>(copied) : 0);
    });
    return Narrow16(text);
}

void Win32Desktop::ShowControl(int id, bool visible) {
    OnUi([&] {
        if (const HWND control = GetDlgItem(dialog_, id)) {
            ShowWindow(control, visible ? SW_SHOW : SW_HIDE);
        }
    });
}

bool Win32Desktop::IsChecked(int id) {
    bool checked = false;
    OnUi([&] { checked = IsDlgButtonChecked(dialog_, id) == BST_CHECKED; });
    return checked;
}

void Win32Desktop::SetChecked(int id, bool checked) {
    OnUi([&] { CheckDlgButton(dialog_, id, checked ? BST_CHECKED : BST_UNCHECKED); });
}

// At the end of the text: an empty selection there takes the colour, the text
// replaces it, and the pane scrolls by all its lines so the end is in view.
void Win32Desktop::AppendLog(std::u16string_view text, Rgb colour) {
    const std::wstring wide = Wide(text);
    OnUi([&] {
        const HWND pane = GetDlgItem(dialog_, control::kLog);
        if (pane == nullptr) {
            return;
        }
        GETTEXTLENGTHEX length{};
        length.flags = GTL_USECRLF | GTL_NUMCHARS;
        length.codepage = 1200;
        const LRESULT end =
            SendMessageW(pane, EM_GETTEXTLENGTHEX, reinterpret_cast<WPARAM>(&length), 0);
        SendMessageW(pane, EM_SETSEL, static_cast<WPARAM>(end), end);
        CHARFORMAT2W format = LogFormat(RGB(colour.red, colour.green, colour.blue));
        SendMessageW(pane, EM_SETCHARFORMAT, SCF_SELECTION, reinterpret_cast<LPARAM>(&format));
        SendMessageW(pane, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(wide.c_str()));
        const LRESULT lines = SendMessageW(pane, EM_GETLINECOUNT, 0, 0);
        SendMessageW(pane, EM_LINESCROLL, 0, lines);
    });
}

void Win32Desktop::MessageBox(std::u16string_view text) {
    const std::wstring wide = Wide(text);
    const std::wstring caption = MessageCaption();
    OnUi([&] {
        const HWND owner =
            messageOwner_ != nullptr && IsWindow(messageOwner_) ? messageOwner_ : dialog_.load();
        MessageBoxW(owner, wide.c_str(), caption.c_str(), MB_OK);
    });
}

HWND Win32Desktop::SetMessageOwner(HWND owner) {
    const HWND previous = messageOwner_;
    messageOwner_ = owner;
    return previous;
}

void Win32Desktop::PrepareLogPane() {
    const HWND pane = GetDlgItem(dialog_, control::kLog);
    if (pane == nullptr) {
        return;
    }
    SendMessageW(pane, EM_SETREADONLY, TRUE, 0);
    CHARFORMAT2W format = LogFormat(RGB(0, 0, 0));
    format.dwMask = CFM_BOLD | CFM_SIZE;
    SendMessageW(pane, EM_SETCHARFORMAT, SCF_DEFAULT, reinterpret_cast<LPARAM>(&format));
    SendMessageW(pane, EM_SETCHARFORMAT, SCF_ALL, reinterpret_cast<LPARAM>(&format));
}

int Win32Desktop::ReturnKeyCommand(HWND dialog) {
    const HWND focus = GetFocus();
    // The control's own visibility: the hidden OK button never counts.
    if (focus == nullptr || GetParent(focus) != dialog ||
        (GetWindowLongPtrW(focus, GWL_STYLE) & WS_VISIBLE) == 0 || !IsWindowEnabled(focus)) {
        return 0;
    }
    wchar_t className[16] = {};
    GetClassNameW(focus, className, 16);
    const LONG_PTR type = GetWindowLongPtrW(focus, GWL_STYLE) & BS_TYPEMASK;
    if (lstrcmpiW(className, L"Button") != 0 ||
        (type != BS_PUSHBUTTON && type != BS_DEFPUSHBUTTON)) {
        return 0;
    }
    const int id = GetDlgCtrlID(focus);
    return id == IDOK ? 0 : id;
}

std::optional<std::u16string> Win32Desktop::OpenFile(const OpenFileRequest& request) {
    // "description\0pattern\0...\0\0"; a description without its pattern in
    // brackets gets it added, as the file dialog shows only the description.
    std::wstring filter;
    for (const auto& [description, pattern] : request.filters) {
        std::wstring shown = Wide(description);
        if (shown.find(Wide(pattern)) == std::wstring::npos) {
            shown += L"(" + Wide(pattern) + L")";
        }
        filter += shown;
        filter.push_back(L'\0');
        filter += Wide(pattern);
        filter.push_back(L'\0');
    }
    filter.push_back(L'\0');
    std::vector<wchar_t> file(MAX_PATH * 4, L'\0');
    const std::wstring initial = Wide(request.initialFile);
    if (initial.size() < file.size()) {
        std::copy(initial.begin(), initial.end(), file.begin());
    }
    const std::wstring extension = Wide(request.defaultExtension);
    std::optional<std::u16string> chosen;
    OnUi([&] {
        OPENFILENAMEW open{};
        open.lStructSize = sizeof open;
        open.hwndOwner = dialog_;
        open.lpstrFilter = filter.c_str();
        open.lpstrFile = file.data();
        open.nMaxFile = static_cast<DWORD>(file.size());
        open.lpstrDefExt = extension.empty() ? nullptr : extension.c_str();
        open.Flags = OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY | OFN_EXPLORER;
        if (GetOpenFileNameW(&open)) {
            chosen = Narrow16(file.data());
        }
    });
    return chosen;
}

void Win32Desktop::CloseMainWindow() {
    if (const HWND dialog = dialog_) {
        SendMessageW(dialog, CloseMessage(), 0, 0);
    }
}

}  // namespace zelk::app::win32
