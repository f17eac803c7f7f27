// Help topics and context numbers, reached from the main window's menus and keys.
#include <QAction>
#include <QKeyEvent>
#include <QMenu>
#include <QMenuBar>
#include <QTest>
#include <QTextBrowser>
#include <gtest/gtest.h>
#include <vector>

#include "AppTestSupport.h"
#include "app/TFrmLoadr.h"
#include "app/THelpWindow.h"
#include "upload/run/UploadRun.h"

namespace pellwick::test {
namespace {

using namespace std::chrono_literals;

QString ShownText(THelpWindow& help) {
    return help.findChild<QTextBrowser*>("HelpBrowser")->toPlainText();
}

class HelpWindowTest : public ::testing::Test {
protected:
    std::unique_ptr<TFrmLoadr> MakeWindow() {
        TFrmLoadr::Options options;
        options.SplashWait = 0ms;
        auto window = std::make_unique<TFrmLoadr>(run, boxes, options);
        window->show();
        return window;
    }
    WorkFolder folder;
    ScriptedBoxes boxes{Unscripted::PressFirstButton};
    RecordingLink link;
    UploadRun run{link, boxes};
};

TEST_F(HelpWindowTest, ContextNumbersOpenTheirTopicsAndOthersTheContents) {
    const std::pair<int, const char*> cases[] = {{10, "about.html"},
                                                 {20, "main.html"},
                                                 {110, "terminal.html"},
                                                 {210, "settings.html"},
                                                 {999, "index.html"}};
    auto window = MakeWindow();
    for (const auto& [context, page] : cases) {
        window->ShowHelpContext(context);
        THelpWindow* help = window->HelpWindow();
        ASSERT_NE(help, nullptr);
        EXPECT_TRUE(help->isVisible());
        EXPECT_EQ(help->CurrentPage(), QStringLiteral("qrc:/pellwick/help/") + page) << context;
        EXPECT_GT(ShownText(*help).size(), 200) << page;
    }
}

TEST_F(HelpWindowTest, HelpTopicsShowTheContentsWhoseLinksAllLeadToPages) {
    auto window = MakeWindow();
    window->findChild<QAction*>("MnuItmHelpTopics")->trigger();
    THelpWindow* help = window->HelpWindow();
    ASSERT_NE(help, nullptr);
    EXPECT_EQ(help->CurrentPage(), THelpWindow::ContentsPage());
    const QString contents = ShownText(*help);
    for (const char* topic : {"main window", "Upload scripts", "device dialogue",
                              "Communication settings", "terminal window", "loader.ini"}) {
        EXPECT_TRUE(contents.contains(QString::fromLatin1(topic))) << topic;
    }
    auto* browser = help->findChild<QTextBrowser*>("HelpBrowser");
    for (const char* page : {"main.html", "scripts.html", "device.html", "settings.html",
                             "terminal.html", "ini.html", "about.html"}) {
        browser->setSource(QUrl(QStringLiteral("qrc:/pellwick/help/") + page));
        EXPECT_FALSE(browser->documentTitle().isEmpty()) << page;
    }
}

TEST_F(HelpWindowTest, ScriptTopicDocumentsEveryCommandAndIniTopicThePortsSection) {
    THelpWindow help;
    help.ShowContext(999);
    auto* browser = help.findChild<QTextBrowser*>("HelpBrowser");
    const std::pair<const char*, std::vector<const char*>> pages[] = {
        {"scripts.html", {"_DY", "_LP", "_LF", "_LA", "_LV", "_DM", "_TC", "_SC", "_LD"}},
        {"ini.html",
         {"[Ports]", "Scan=0", "COM1=/dev/", "Default Path", "Upload Method", "[Terminal]",
          "Send Line End"}},
        {"terminal.html",
         {"Paste", "Capture to File...", "Stop Capture", "View > Hex", "Local Echo",
          "Send Line End", "Send Break", "DTR", "RTS"}},
    };
    for (const auto& [page, words] : pages) {
        browser->setSource(QUrl(QStringLiteral("qrc:/pellwick/help/") + page));
        const QString text = browser->toPlainText();
        for (const char* word : words) {
            EXPECT_TRUE(text.contains(QString::fromLatin1(word))) << page << ": " << word;
        }
    }
}

TEST_F(HelpWindowTest, F1OnAHighlightedMenuItemOpensItsTopic) {
    auto window = MakeWindow();
    auto* menu = window->findChild<QMenu*>("MnuConfiguration");
    ASSERT_NE(menu, nullptr);
    menu->popup(window->mapToGlobal(QPoint(0, 0)));
    ASSERT_TRUE(PumpUntil([menu] { return menu->isVisible(); }));
    menu->setActiveAction(window->findChild<QAction*>("MnuItmRS232"));
    QTest::keyClick(menu, Qt::Key_F1);
    ASSERT_NE(window->HelpWindow(), nullptr);
    EXPECT_EQ(window->HelpWindow()->CurrentPage(), THelpWindow::PageOf(210));
    EXPECT_FALSE(menu->isVisible());
}

} // namespace
} // namespace pellwick::test
