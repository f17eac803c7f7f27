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

TEST(QtMessageBoxesTest, ConfirmBoxCarriesCaptionsIconAndLinesAndReturnsThePressedButton) {
    QtMessageBoxes boxes;
    SeenBox seen;
    AnswerNextBox(seen, "&No");
    const MsgButton pressed = boxes.Show(MsgKind::Confirm, "first line\rsecond line", MbYes | MbNo);
    EXPECT_EQ(pressed, MbNo);
    EXPECT_EQ(seen.Title, "Confirm");
    EXPECT_EQ(seen.Text, "first line\nsecond line");
    EXPECT_EQ(seen.Icon, QMessageBox::Question);
    seen.Buttons.sort();
    EXPECT_EQ(seen.Buttons, QStringList({"&No", "&Yes"}));
}

TEST(QtMessageBoxesTest, EachKindHasItsCaptionAndIcon) {
    const std::tuple<MsgKind, const char*, QMessageBox::Icon> cases[] = {
        {MsgKind::Error, "Error", QMessageBox::Critical},
        {MsgKind::Warning, "Warning", QMessageBox::Warning},
        {MsgKind::Information, "Information", QMessageBox::Information}};
    QtMessageBoxes boxes;
    for (const auto& [kind, caption, icon] : cases) {
        SeenBox seen;
        AnswerNextBox(seen, "&Ignore");
        EXPECT_EQ(boxes.Show(kind, "x", MbAbort | MbIgnore), MbIgnore);
        EXPECT_EQ(seen.Title, caption);
        EXPECT_EQ(seen.Icon, icon);
        seen.Buttons.sort();
        EXPECT_EQ(seen.Buttons, QStringList({"&Abort", "&Ignore"}));
    }
}

TEST(QtMessageBoxesTest, OkCancelBoxClosedWithoutAButtonAnswersCancel) {
    QtMessageBoxes boxes;
    SeenBox seen;
    AnswerNextBox(seen, "none");
    EXPECT_EQ(boxes.Show(MsgKind::Confirm, "Exit now ?", MbOk | MbCancel), MbCancel);
    seen.Buttons.sort();
    EXPECT_EQ(seen.Buttons, QStringList({"Cancel", "OK"}));
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
