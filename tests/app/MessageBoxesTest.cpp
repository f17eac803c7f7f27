// The QMessageBox-backed boxes: caption, icon, fixed button captions, line breaks, the answer.
#include <QAbstractButton>
#include <QMessageBox>
#include <QTest>
#include <gtest/gtest.h>

#include "AppTestSupport.h"
#include "app/QtMessageBoxes.h"
#include "app/TFrmLoadr.h"

namespace pellwick::test {
namespace {

struct SeenBox {
    QString Title;
    QString Text;
    QMessageBox::Icon Icon = QMessageBox::NoIcon;
    QStringList Buttons;
};

// Records the next box and clicks the button with the given caption.
void AnswerNextBox(SeenBox& seen, const QString& press) {
    WhenModal<QMessageBox>([&seen, press](QMessageBox* box) {
        seen.Title = box->windowTitle();
        seen.Text = box->text();
        seen.Icon = box->icon();
        for (QAbstractButton* button : box->buttons()) {
            seen.Buttons << button->text();
        }
        for (QAbstractButton* button : box->buttons()) {
            if (button->text() == press) {
                button->click();
                return;
            }
        }
        box->reject();
    });
}

TEST(QtMessageBoxesTest, EachKindHasItsCaptionIconAndLinesAndReturnsThePressedButton) {
    struct Row {
        MsgKind kind;
        const char* caption;
        QMessageBox::Icon icon;
        unsigned buttons;
        const char* press; // a caption no button has closes the box without a button
        MsgButton answer;
        const char* captions; // sorted, blank-separated
    };
    // clang-format off
    const Row rows[] = {
        {MsgKind::Confirm, "Confirm", QMessageBox::Question,
         MbYes | MbNo, "&No", MbNo, "&No &Yes"},
        {MsgKind::Error, "Error", QMessageBox::Critical,
         MbAbort | MbIgnore, "&Ignore", MbIgnore, "&Abort &Ignore"},
        {MsgKind::Warning, "Warning", QMessageBox::Warning,
         MbAbort | MbIgnore, "&Ignore", MbIgnore, "&Abort &Ignore"},
        {MsgKind::Information, "Information", QMessageBox::Information,
         MbAbort | MbIgnore, "&Ignore", MbIgnore, "&Abort &Ignore"},
        {MsgKind::Confirm, "Confirm", QMessageBox::Question,
         MbOk | MbCancel, "none", MbCancel, "Cancel OK"},
    };
    // clang-format on
    QtMessageBoxes boxes;
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.caption) + " pressing " + row.press);
        SeenBox seen;
        AnswerNextBox(seen, row.press);
        EXPECT_EQ(boxes.Show(row.kind, "first line\rsecond line", row.buttons), row.answer);
        EXPECT_EQ(seen.Title, row.caption);
        EXPECT_EQ(seen.Text, "first line\nsecond line");
        EXPECT_EQ(seen.Icon, row.icon);
        seen.Buttons.sort();
        EXPECT_EQ(seen.Buttons.join(' '), row.captions);
    }
}

TEST(QtMessageBoxesTest, DisplayTextTurnsEveryLineEndIntoOneBreakAndKeepsHighBytes) {
    EXPECT_EQ(QtMessageBoxes::DisplayText("a\rb\r\nc\nd"), "a\nb\nc\nd");
    EXPECT_EQ(QtMessageBoxes::DisplayText("\xE9t\xE9"), QString::fromLatin1("\xE9t\xE9"));
}

TEST(ScriptFilterTest, PipeFilterBecomesQtNameFilters) {
    EXPECT_EQ(TFrmLoadr::QtFilterOf(TFrmLoadr::kScriptFilter),
              "Upload Script File (*.sld);;All Files (*.*)");
}

} // namespace
} // namespace pellwick::test
