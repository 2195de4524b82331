// The Win32 desktop's window part on real windows (under Wine on Linux): the
// log pane's coloured appends and the control calls, also from a worker
// thread while the UI thread serves messages. Built only for Windows.
#ifdef _WIN32

#include "desktop/win32/window/win32_desktop.h"

#include <gtest/gtest.h>
#include <richedit.h>

#include <atomic>
#include <string>
#include <thread>

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
