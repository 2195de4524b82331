// The desktop of the dialog program on Windows: the window part is the
// dialog on template 102 (controls by id, the rich-edit log pane, message
// boxes, the open-file dialog, closing); the system services are the
// operating system's (OsServices). Construct it on the UI thread. Control
// calls, AppendLog, MessageBox and CloseMainWindow may come from the update
// worker: they are carried out on the UI thread and wait for it.
#pragma once

#define WIN32_LEAN_AND_MEAN
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
// <windows.h> turns these into macros that would rename the seam's members.
#undef MessageBox
#undef FindResource

#include <atomic>
#include <functional>
#include <memory>
#include <thread>

#include "app/desktop/desktop.h"
#include "app/platform/os_services.h"

namespace zelk::app::win32 {

class Win32Desktop final : public Desktop, public OsServices {
  public:
    explicit Win32Desktop(HINSTANCE instance);
    ~Win32Desktop() override;
    Win32Desktop(const Win32Desktop&) = delete;
    Win32Desktop& operator=(const Win32Desktop&) = delete;

    // The dialog window once it exists (set by the dialog procedure, on the
    // UI thread).
    void AttachWindow(HWND dialog);
    // Forgets the window (WM_DESTROY, on the UI thread): requests that are
    // waiting or come later are dropped, so a worker never waits for a UI
    // thread that has stopped serving messages.
    void DetachWindow();
    HWND Window() const { return dialog_; }
    HINSTANCE Instance() const { return instance_; }
    // The caption of message boxes: the program's file name without extension.
    std::wstring MessageCaption() const;

    void SetControlText(int id, std::u16string_view text) override;
    std::u16string ControlText(int id) override;
    void ShowControl(int id, bool visible) override;
    bool IsChecked(int id) override;
    void SetChecked(int id, bool checked) override;
    void AppendLog(std::u16string_view text, Rgb colour) override;
    void MessageBox(std::u16string_view text) override;
    std::optional<std::u16string> OpenFile(const OpenFileRequest& request) override;
    void CloseMainWindow() override;

    // The private message that ends the dialog without asking.
    static UINT CloseMessage();

    // Message boxes belong to the window that raised them: while a dialog of
    // its own (the password dialog) is open over the main window, boxes are
    // owned by it, so they stay modal over it. Returns the previous owner;
    // null means the main window. UI thread only.
    HWND SetMessageOwner(HWND owner);
    // Makes the log pane read-only with its default character format, bold
    // at 222 twips (11.1 pt); AppendLog keeps that format for every append.
    void PrepareLogPane();
    // What Return presses in `dialog`: the id of the push button that has the
    // focus (visible and enabled), or 0 when the focus is elsewhere (then
    // Return is the dialog's OK). The template's hidden OK button is the
    // default button, which would otherwise take Return from Start.
    static int ReturnKeyCommand(HWND dialog);

  private:
    // Runs `work` on the UI thread and waits for it; dropped when the window
    // is gone.
    void OnUi(const std::function<void()>& work);

    HINSTANCE instance_;
    std::atomic<HWND> dialog_ = nullptr;
    // A message-only window of the UI thread that runs the workers' requests.
    std::atomic<HWND> calls_ = nullptr;
    HWND messageOwner_ = nullptr;  // UI thread only
    std::thread::id uiThread_;
};

}  // namespace zelk::app::win32
