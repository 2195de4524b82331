#include "app/window/qt/qt_desktop.h"

#include <QCoreApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QStringList>
#include <cstdio>

#include "app/window/qt/log_pane.h"
#include "app/window/qt/progress_caption.h"
#include "app/window/qt/ui_thread.h"

namespace zelk::app::qt {
namespace {

QString ToQt(std::u16string_view text) {
    return QString::fromUtf16(text.data(), static_cast<qsizetype>(text.size()));
}

void ShowMessageBox(QWidget* parent, const QString& caption, const QString& text) {
    QMessageBox box(QMessageBox::NoIcon, caption, text, QMessageBox::Ok, parent);
    box.exec();
}

QString ChooseFile(QWidget* parent, const QString& initialFile, const QString& filters,
                   const QString& defaultSuffix) {
    QFileDialog dialog(parent);
    ConfigureOpenFileDialog(dialog, initialFile, filters, defaultSuffix);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return {};
    }
    return dialog.selectedFiles().constFirst();
}

}  // namespace

QString FileDialogFilters(const OpenFileRequest& request) {
    QStringList parts;
    for (const auto& [description, pattern] : request.filters) {
        QString part = ToQt(description);
        if (!part.contains(QLatin1Char('('))) {
            part += QStringLiteral(" (%1)").arg(ToQt(pattern));
        }
        parts << part;
    }
    return parts.join(QStringLiteral(";;"));
}

void ConfigureOpenFileDialog(QFileDialog& dialog, const QString& initialFile,
                             const QString& filters, const QString& defaultSuffix) {
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setNameFilters(filters.split(QStringLiteral(";;")));
    dialog.setDefaultSuffix(defaultSuffix);
    if (!initialFile.isEmpty()) {
        dialog.selectFile(initialFile);
    }
}

QtDesktop::QtDesktop(QtDesktopOptions options)
    : options_(std::move(options)),
      ownServices_(options_.services ? nullptr : std::make_unique<OsServices>()),
      services_(options_.services ? *options_.services : *ownServices_),
      window_(std::make_unique<MainWindow>()) {
    if (!options_.messageBox) {
        options_.messageBox = ShowMessageBox;
    }
    if (!options_.openFile) {
        options_.openFile = ChooseFile;
    }
    if (!options_.onClose) {
        options_.onClose = [this] {
            window_->CloseUnasked();
            QCoreApplication::quit();
        };
    }
}

QtDesktop::~QtDesktop() = default;

QString QtDesktop::MessageCaption() const {
    return QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName();
}

void QtDesktop::SetControlText(int id, std::u16string_view text) {
    const QString value = ToQt(text);
    OnUiThread(*window_, [&] { window_->SetControlText(id, value); });
}

std::u16string QtDesktop::ControlText(int id) {
    return OnUiThread(*window_, [&] { return window_->ControlText(id).toStdU16String(); });
}

void QtDesktop::ShowControl(int id, bool visible) {
    OnUiThread(*window_, [&] {
        if (QWidget* control = window_->Control(id)) {
            control->setVisible(visible);
        }
    });
}

bool QtDesktop::IsChecked(int id) {
    return OnUiThread(*window_, [&] { return window_->IsChecked(id); });
}

void QtDesktop::SetChecked(int id, bool checked) {
    OnUiThread(*window_, [&] { window_->SetChecked(id, checked); });
}

void QtDesktop::AppendLog(std::u16string_view text, Rgb colour) {
    const QString value = ToQt(text);
    OnUiThread(*window_, [&] { AppendToLogPane(window_->LogPane(), value, colour); });
}

void QtDesktop::MessageBox(std::u16string_view text) {
    const QString value = ToQt(text);
    OnUiThread(*window_, [&] { options_.messageBox(window_.get(), MessageCaption(), value); });
}

std::optional<std::u16string> QtDesktop::OpenFile(const OpenFileRequest& request) {
    const QString filters = FileDialogFilters(request);
    const QString initial = ToQt(request.initialFile);
    const QString suffix = ToQt(request.defaultExtension);
    const QString chosen = OnUiThread(
        *window_, [&] { return options_.openFile(window_.get(), initial, filters, suffix); });
    if (chosen.isEmpty()) {
        return std::nullopt;
    }
    return chosen.toStdU16String();
}

std::optional<std::uint32_t> QtDesktop::SystemLanguageId() {
    return services_.SystemLanguageId();
}

ResourceLookup QtDesktop::FindResource(std::u16string_view type, int id,
                                       std::vector<std::uint8_t>& bytes) {
    return services_.FindResource(type, id, bytes);
}

std::u16string QtDesktop::TempDirectory() {
    return services_.TempDirectory();
}

std::u16string QtDesktop::OwnPath() {
    return services_.OwnPath();
}

bool QtDesktop::FileExists(std::u16string_view path) {
    return services_.FileExists(path);
}

bool QtDesktop::StartProgram(std::u16string_view file,
                             const std::vector<std::u16string>& arguments) {
    return services_.StartProgram(file, arguments);
}

// The caption is posted, not waited for: a broadcast never waits.
void QtDesktop::BroadcastProgress(ProgressEvent event, std::int64_t lParam) {
    if (const auto caption = CaptionAfter(event, lParam)) {
        QMetaObject::invokeMethod(
            window_.get(),
            [window = window_.get(), text = *caption] { window->setWindowTitle(text); },
            Qt::QueuedConnection);
    }
    services_.BroadcastProgress(event, lParam);
}

void QtDesktop::DebugOutput(std::u16string_view text) {
    services_.DebugOutput(text);
}

void QtDesktop::WriteStdout(std::string_view bytes) {
    services_.WriteStdout(bytes);
}

void QtDesktop::CloseMainWindow() {
    OnUiThread(*window_, [&] { options_.onClose(); });
}

LocalTime QtDesktop::Now() {
    return services_.Now();
}

std::string QtDesktop::ToAnsiBytes(std::u16string_view text) {
    return services_.ToAnsiBytes(text);
}

std::string QtDesktop::ToChineseCodePageBytes(std::u16string_view text) {
    return services_.ToChineseCodePageBytes(text);
}

std::u16string QtDesktop::FromChineseCodePageBytes(std::string_view bytes) {
    return services_.FromChineseCodePageBytes(bytes);
}

}  // namespace zelk::app::qt
