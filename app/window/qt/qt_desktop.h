// The desktop of the dialog program on Linux: the window part drawn with Qt
// Widgets; the system services are the operating system's (OsServices) or,
// in tests, the ones passed in. Construct it on the UI thread after the
// QApplication; the control calls, AppendLog, MessageBox and CloseMainWindow
// may come from the update worker and run on the UI thread.
#pragma once

#include <QString>
#include <functional>
#include <memory>
#include <optional>

#include "app/desktop/desktop.h"
#include "app/platform/os_services.h"
#include "app/window/qt/main_window.h"

class QFileDialog;

namespace zelk::app::qt {

struct QtDesktopOptions {
    // Null: a QMessageBox with an OK button.
    std::function<void(QWidget* parent, const QString& caption, const QString& text)> messageBox;
    // Null: a QFileDialog set up by ConfigureOpenFileDialog. Returns an empty
    // string on cancel.
    std::function<QString(QWidget* parent, const QString& initialFile, const QString& filters,
                          const QString& defaultSuffix)>
        openFile;
    // Runs on the UI thread for CloseMainWindow. Null: closes the window
    // without asking and ends the event loop.
    std::function<void()> onClose;
    // The calls that are not about the window (resources, files, language,
    // programs, broadcasts, debug and stdout lines, time) go here; null: to
    // the operating system (OsServices). Tests pass a RecordingDesktop.
    SystemServices* services = nullptr;
};

class QtDesktop final : public Desktop {
  public:
    explicit QtDesktop(QtDesktopOptions options = {});
    ~QtDesktop() override;

    MainWindow& Window() { return *window_; }
    // The caption of message boxes: the program's file name without extension.
    QString MessageCaption() const;

    void SetControlText(int id, std::u16string_view text) override;
    std::u16string ControlText(int id) override;
    void ShowControl(int id, bool visible) override;
    bool IsChecked(int id) override;
    void SetChecked(int id, bool checked) override;

    void AppendLog(std::u16string_view text, Rgb colour) override;
    void MessageBox(std::u16string_view text) override;
    std::optional<std::u16string> OpenFile(const OpenFileRequest& request) override;
    std::optional<std::uint32_t> SystemLanguageId() override;

    ResourceLookup FindResource(std::u16string_view type, int id,
                                std::vector<std::uint8_t>& bytes) override;
    std::u16string TempDirectory() override;
    std::u16string OwnPath() override;
    bool FileExists(std::u16string_view path) override;
    bool StartProgram(std::u16string_view file,
                      const std::vector<std::u16string>& arguments) override;

    // Shows the run's percentage in the window caption, then tells other programs.
    void BroadcastProgress(ProgressEvent event, std::int64_t lParam) override;
    void DebugOutput(std::u16string_view text) override;
    void WriteStdout(std::string_view bytes) override;
    void CloseMainWindow() override;
    LocalTime Now() override;
    std::string ToAnsiBytes(std::u16string_view text) override;
    std::string ToChineseCodePageBytes(std::u16string_view text) override;
    std::u16string FromChineseCodePageBytes(std::string_view bytes) override;

  private:
    QtDesktopOptions options_;
    std::unique_ptr<OsServices> ownServices_;  // null when services were passed in
    SystemServices& services_;
    std::unique_ptr<MainWindow> window_;
};

// The open-file dialog's filter string, "FIREWARE (*.bin);;所有文件(*.*)":
// each description, with its pattern added in brackets when it has none.
QString FileDialogFilters(const OpenFileRequest& request);
// An open dialog for existing files only (Qt has no read-only box), with the
// initial file, the filters and the extension added to a name typed without
// one ("bin": "offer" opens "offer.bin").
void ConfigureOpenFileDialog(QFileDialog& dialog, const QString& initialFile,
                             const QString& filters, const QString& defaultSuffix);

}  // namespace zelk::app::qt
