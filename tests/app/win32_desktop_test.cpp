// The Win32 desktop's window part on real windows (under Wine on Linux): the
// log pane's coloured appends and the control calls, also from a worker
// thread while the UI thread serves messages. Built only for Windows.
#ifdef _WIN32

#include "app/window/win32/win32_desktop.h"

#include <gtest/gtest.h>
#include <richedit.h>

#include <atomic>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace zelk::app::win32 {
namespace {

// A window with the controls the calls address, by the dialog's ids.
class Win32DesktopTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (LoadLibraryW(L"riched20.dll") == nullptr) {
            GTEST_SKIP() << "no rich-edit control";
        }
        window_ = CreateWindowExW(0, L"STATIC", L"", WS_OVERLAPPEDWINDOW, 0, 0, 600, 400, nullptr,
                                  nullptr, GetModuleHandleW(nullptr), nullptr);
        if (window_ == nullptr) {
            GTEST_SKIP() << "no display to create windows on";
        }
        Child(L"RichEdit20W", control::kLog, ES_MULTILINE | ES_READONLY | WS_VSCROLL);
        Child(L"BUTTON", control::kStart, BS_PUSHBUTTON);
        Child(L"BUTTON", control::kHideWindow, BS_AUTOCHECKBOX);
        Child(L"EDIT", control::kVidEdit, ES_AUTOHSCROLL);
        desktop_.AttachWindow(window_);
    }
    void TearDown() override {
        if (window_ != nullptr) {
            desktop_.DetachWindow();
            DestroyWindow(window_);
        }
    }

    void Child(const wchar_t* className, int id, DWORD style) {
        CreateWindowExW(0, className, L"", WS_CHILD | WS_VISIBLE | style, 10, 10 + id % 100 * 3,
                        400, 60, window_, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                        GetModuleHandleW(nullptr), nullptr);
    }

    // The colour of the character at `position` of the log pane.
    COLORREF ColourAt(LONG position) {
        const HWND pane = GetDlgItem(window_, control::kLog);
        SendMessageW(pane, EM_SETSEL, position, position + 1);
        CHARFORMAT2W format{};
        format.cbSize = sizeof format;
        SendMessageW(pane, EM_GETCHARFORMAT, SCF_SELECTION, reinterpret_cast<LPARAM>(&format));
        return format.crTextColor;
    }

    CHARFORMAT2W FormatAt(LONG position) {
        const HWND pane = GetDlgItem(window_, control::kLog);
        SendMessageW(pane, EM_SETSEL, position, position + 1);
        CHARFORMAT2W format{};
        format.cbSize = sizeof format;
        SendMessageW(pane, EM_GETCHARFORMAT, SCF_SELECTION, reinterpret_cast<LPARAM>(&format));
        return format;
    }

    std::wstring LogText() {
        const HWND pane = GetDlgItem(window_, control::kLog);
        std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(pane)) + 1, L'\0');
        text.resize(static_cast<std::size_t>(
            GetWindowTextW(pane, text.data(), static_cast<int>(text.size()))));
        return text;
    }

    HWND window_ = nullptr;
    Win32Desktop desktop_{GetModuleHandleW(nullptr)};
};

TEST_F(Win32DesktopTest, EachAppendKeepsItsOwnColour) {
    desktop_.AppendLog(u"Ready to Update\n", kBlack);
    desktop_.AppendLog(u"升级中...\n", kOrange);
    desktop_.AppendLog(u"Success\n", kGreen);
    const std::wstring text = LogText();
    const auto second = text.find(L"升级中");
    const auto third = text.find(L"Success");
    ASSERT_EQ(text.find(L"Ready to Update"), 0u);
    ASSERT_NE(second, std::wstring::npos);
    ASSERT_NE(third, std::wstring::npos);
    EXPECT_EQ(ColourAt(0), RGB(0, 0, 0));
    EXPECT_EQ(ColourAt(static_cast<LONG>(second)), RGB(255, 140, 30));
    EXPECT_EQ(ColourAt(static_cast<LONG>(third)), RGB(40, 255, 120));
}

// The log pane reads bold at 11.1 pt (222 twips), whatever the dialog's own
// font, in every colour.
TEST_F(Win32DesktopTest, TheLogPaneIsBoldAt222Twips) {
    SendMessageW(GetDlgItem(window_, control::kLog), WM_SETFONT,
                 reinterpret_cast<WPARAM>(GetStockObject(DEFAULT_GUI_FONT)), FALSE);
    desktop_.PrepareLogPane();
    desktop_.AppendLog(u"Ready to Update\n", kBlack);
    desktop_.AppendLog(u"Update fail, rst 4.\n", kRed);
    const std::wstring text = LogText();
    const auto second = text.find(L"Update fail");
    ASSERT_NE(second, std::wstring::npos);
    for (const LONG position : {0L, static_cast<LONG>(second)}) {
        const CHARFORMAT2W format = FormatAt(position);
        EXPECT_TRUE(format.dwEffects & CFE_BOLD) << "at " << position;
        EXPECT_EQ(format.yHeight, 222) << "at " << position;
    }
    EXPECT_EQ(ColourAt(static_cast<LONG>(second)), RGB(255, 0, 0));
}

// A box raised while another window of the program is the message owner (the
// password dialog) is owned by that window, not by the main window.
TEST_F(Win32DesktopTest, MessageBoxesBelongToTheWindowThatRaisedThem) {
    const HWND password = CreateWindowExW(0, L"STATIC", L"", WS_OVERLAPPEDWINDOW, 0, 0, 200, 100,
                                          window_, nullptr, GetModuleHandleW(nullptr), nullptr);
    ASSERT_NE(password, nullptr);
    static HWND owner;
    static HWND box;
    // Runs inside the box's own message loop: notes its owner and dismisses it.
    const auto dismiss = [](HWND, UINT, UINT_PTR timer, DWORD) {
        EnumThreadWindows(
            GetCurrentThreadId(),
            [](HWND candidate, LPARAM) -> BOOL {
                wchar_t name[16] = {};
                GetClassNameW(candidate, name, 16);
                if (lstrcmpW(name, L"#32770") != 0 || !IsWindowVisible(candidate)) {
                    return TRUE;
                }
                box = candidate;
                owner = GetWindow(candidate, GW_OWNER);
                PostMessageW(candidate, WM_COMMAND, IDOK, 0);
                return FALSE;
            },
            0);
        if (box != nullptr) {
            KillTimer(nullptr, timer);
        }
    };
    for (const auto& [messageOwner, expected] :
         std::vector<std::pair<HWND, HWND>>{{password, password}, {nullptr, window_}}) {
        owner = box = nullptr;
        desktop_.SetMessageOwner(messageOwner);
        SetTimer(nullptr, 0, 50, dismiss);
        desktop_.MessageBox(u"Wrong Password!");
        EXPECT_NE(box, nullptr);
        EXPECT_EQ(owner, expected);
    }
    desktop_.SetMessageOwner(nullptr);
    DestroyWindow(password);
}

// Return presses the focused push button, never the hidden default OK
// button; elsewhere (0) it stays the dialog's OK.
TEST_F(Win32DesktopTest, ReturnPressesTheFocusedButtonOnly) {
    Child(L"BUTTON", IDOK, BS_DEFPUSHBUTTON);
    ShowWindow(GetDlgItem(window_, IDOK), SW_HIDE);
    struct Row {
        int focused;
        int command;
    };
    for (const Row row : {Row{control::kStart, control::kStart}, Row{control::kVidEdit, 0},
                          Row{control::kHideWindow, 0}, Row{control::kLog, 0}}) {
        SetFocus(GetDlgItem(window_, row.focused));
        ASSERT_EQ(GetFocus(), GetDlgItem(window_, row.focused));
        EXPECT_EQ(Win32Desktop::ReturnKeyCommand(window_), row.command) << "focus " << row.focused;
    }
}

// A path too long for its box shows its end, the file name.
TEST_F(Win32DesktopTest, APathBoxShowsTheEndOfItsPath) {
    const HWND box = CreateWindowExW(
        0, L"EDIT", L"", WS_CHILD | WS_VISIBLE | ES_AUTOHSCROLL | ES_READONLY, 10, 300, 80, 20,
        window_, reinterpret_cast<HMENU>(static_cast<INT_PTR>(control::kPayloadPathEdit)),
        GetModuleHandleW(nullptr), nullptr);
    ASSERT_NE(box, nullptr);
    const std::u16string path =
        u"C:\\Users\\administrator\\Documents\\firmware\\release 2\\new.payload.bin";
    desktop_.SetControlText(control::kPayloadPathEdit, path);
    RECT client{};
    GetClientRect(box, &client);
    const LRESULT last = SendMessageW(box, EM_POSFROMCHAR, path.size() - 1, 0);
    const LRESULT first = SendMessageW(box, EM_CHARFROMPOS, 0, MAKELPARAM(2, 2));
    EXPECT_NE(last, -1);  // the last character is in view
    EXPECT_LT(static_cast<short>(LOWORD(last)), client.right);
    EXPECT_GT(LOWORD(first), 10);  // the start scrolled out
}

TEST_F(Win32DesktopTest, ControlCallsFromAWorkerRunOnTheUiThread) {
    std::atomic<bool> done = false;
    std::u16string readBack;
    bool checked = false;
    std::thread worker([&] {
        desktop_.SetControlText(control::kVidEdit, u"0x320f 路径");
        readBack = desktop_.ControlText(control::kVidEdit);
        desktop_.SetChecked(control::kHideWindow, true);
        checked = desktop_.IsChecked(control::kHideWindow);
        desktop_.AppendLog(u"from the worker\n", kRed);
        done = true;
    });
    // The UI thread serves the worker's requests until it is done.
    while (!done) {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            DispatchMessageW(&message);
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    }
    worker.join();
    EXPECT_EQ(readBack, u"0x320f 路径");
    EXPECT_TRUE(checked);
    EXPECT_EQ(ColourAt(0), RGB(255, 0, 0));
}

TEST_F(Win32DesktopTest, CallsAfterTheWindowIsGoneAreDroppedWithoutWaiting) {
    desktop_.DetachWindow();
    std::thread worker([&] {
        desktop_.SetControlText(control::kStart, u"x");
        desktop_.AppendLog(u"late\n", kRed);
        EXPECT_EQ(desktop_.ControlText(control::kStart), u"");
        desktop_.CloseMainWindow();
    });
    worker.join();
    EXPECT_EQ(LogText(), L"");
}

}  // namespace
}  // namespace zelk::app::win32

#endif  // _WIN32
