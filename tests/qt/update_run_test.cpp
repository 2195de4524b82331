// A run started from the window, as a user sees it: the log pane's lines and
// colours, the caption's percentage, closing during the run, hide-window mode.
#include <QTextBlock>
#include <QTextDocument>

#include "tests/qt/window_fixture.h"

namespace zelk::app::qt {
namespace {

struct LogLine {
    QString text;
    QColor colour;
};

std::vector<LogLine> LogLines(QTextEdit& pane) {
    std::vector<LogLine> lines;
    for (QTextBlock block = pane.document()->begin(); block.isValid(); block = block.next()) {
        if (block.text().isEmpty()) {
            continue;
        }
        const QTextFragment first = block.begin().fragment();
        lines.push_back({block.text(), first.charFormat().foreground().color()});
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            EXPECT_EQ(it.fragment().charFormat().foreground().color(), lines.back().colour)
                << "one colour per line: " << block.text().toStdString();
        }
    }
    return lines;
}

TEST_F(WindowTest, StartShowsTheRunInTheLogInItsColours) {
    Show();
    std::vector<QString> captions;
    QObject::connect(&desktop.Window(), &QWidget::windowTitleChanged,
                     [&captions](const QString& title) { captions.push_back(title); });

    QTest::mouseClick(&Control(control::kStart), Qt::LeftButton);
    WaitForRun();

    QTextEdit& pane = desktop.Window().LogPane();
    EXPECT_EQ(pane.toPlainText(),
              "Ready to Update\nIn Progress...\nSuccess\n"
              "Verified: the device now reports version 1.0.4.2.\n");
    const auto lines = LogLines(pane);
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0].colour, QColor(0, 0, 0));
    EXPECT_EQ(lines[1].colour, QColor(255, 140, 30));
    EXPECT_EQ(lines[2].colour, QColor(40, 255, 120));
    EXPECT_EQ(lines[3].colour, QColor(40, 255, 120));
    // Only the colour is set per entry: the weight and size are the pane's.
    const QFont font = pane.document()->defaultFont();
    EXPECT_TRUE(font.bold());
    EXPECT_DOUBLE_EQ(font.pointSizeF(), 11.1);
    const QTextCharFormat format = pane.document()->begin().begin().fragment().charFormat();
    EXPECT_FALSE(format.hasProperty(QTextFormat::FontWeight));
    EXPECT_FALSE(format.hasProperty(QTextFormat::FontPointSize));
    // The end of the log stays in view.
    EXPECT_EQ(pane.textCursor().position(), pane.document()->characterCount() - 1);

    // The caption counted up and is the dialog's empty caption again.
    ASSERT_FALSE(captions.empty());
    EXPECT_NE(
        std::find(captions.begin(), captions.end(), QString::fromUtf16(u"ZelkUpdateTool — 10%")),
        captions.end());
    EXPECT_NE(
        std::find(captions.begin(), captions.end(), QString::fromUtf16(u"ZelkUpdateTool — 100%")),
        captions.end());
    EXPECT_EQ(captions.back(), QString());
    EXPECT_EQ(desktop.Window().windowTitle(), QString());
    // Other programs heard of the run as well.
    ASSERT_FALSE(services.Broadcasts().empty());
    EXPECT_EQ(services.Broadcasts().back().event, ProgressEvent::RunEnded);
    EXPECT_TRUE(dialog.LastOutcome().Success());
}

TEST_F(WindowTest, ClosingDuringARunClosesWhenTheRunEnds) {
    Show();
    QTest::mouseClick(&Control(control::kStart), Qt::LeftButton);
    // The worker cannot finish while this thread serves no events.
    ASSERT_TRUE(dialog.RunActive());
    EXPECT_FALSE(desktop.Window().close());
    EXPECT_TRUE(desktop.Window().isVisible());
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, QString::fromStdU16String(CloseRefusedText(false)));
    EXPECT_EQ(boxes[0].caption, QStringLiteral("qt_tests"));

    // The window closes by itself once the run has ended, as the box said.
    EXPECT_EQ(closeRequests, 0);
    WaitForRun();
    EXPECT_EQ(closeRequests, 1);
    EXPECT_EQ(boxes.size(), 1u);
}

TEST_F(WindowTest, HiddenModeRunsWithoutTheWindowAndAsksToCloseIt) {
    services.resources[{u"FIRE_DEVICEINFO", 141}] = DeviceInfo("1");
    services.languageId = 2052;
    AttachDialogActions(desktop, dialog);
    dialog.Initialize();
    EXPECT_TRUE(dialog.RunActive());
    WaitForRun();
    EXPECT_FALSE(desktop.Window().isVisible());
    EXPECT_EQ(closeRequests, 1);
    EXPECT_EQ(
        desktop.Window().LogPane().toPlainText(),
        QString::fromUtf16(u"准备升级\n升级中...\n升级成功\n已验证：设备现在报告版本 1.0.4.2。\n"));
    EXPECT_EQ(Control(control::kStart).property("text").toString(),
              QString::fromUtf16(u"开始升级"));
}

}  // namespace
}  // namespace zelk::app::qt
