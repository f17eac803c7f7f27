#include "app/THelpWindow.h"

#include <QHBoxLayout>
#include <QPushButton>
#include <QTextBrowser>
#include <QVBoxLayout>

#include "resources/Resources.h"

namespace pellwick {

namespace {

QString HelpUrl(const char* page) {
    return QStringLiteral("qrc") + QString::fromLatin1(kHelpFolder) + QString::fromLatin1(page);
}

} // namespace

THelpWindow::THelpWindow(QWidget* parent) : QWidget(parent, Qt::Window) {
    InitResources();
    setObjectName(QStringLiteral("HelpWindow"));
    setWindowTitle(QStringLiteral("Pellwick Help"));
    resize(640, 520);

    auto* contents = new QPushButton(QStringLiteral("&Contents"), this);
    contents->setObjectName(QStringLiteral("BtnContents"));
    auto* back = new QPushButton(QStringLiteral("&Back"), this);
    back->setObjectName(QStringLiteral("BtnBack"));
    auto* forward = new QPushButton(QStringLiteral("&Forward"), this);
    forward->setObjectName(QStringLiteral("BtnForward"));
    browser_ = new QTextBrowser(this);
    browser_->setObjectName(QStringLiteral("HelpBrowser"));
    browser_->setOpenExternalLinks(false);

    auto* bar = new QHBoxLayout;
    bar->addWidget(contents);
    bar->addWidget(back);
    bar->addWidget(forward);
    bar->addStretch();
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(bar);
    layout->addWidget(browser_);

    back->setEnabled(false);
    forward->setEnabled(false);
    connect(contents, &QPushButton::clicked, this, &THelpWindow::ShowTopics);
    connect(back, &QPushButton::clicked, browser_, &QTextBrowser::backward);
    connect(forward, &QPushButton::clicked, browser_, &QTextBrowser::forward);
    connect(browser_, &QTextBrowser::backwardAvailable, back, &QPushButton::setEnabled);
    connect(browser_, &QTextBrowser::forwardAvailable, forward, &QPushButton::setEnabled);
    connect(browser_, &QTextBrowser::sourceChanged, this, [this] {
        setWindowTitle(QStringLiteral("Pellwick Help - ") + browser_->documentTitle());
    });
}

QString THelpWindow::ContentsPage() {
    return HelpUrl("index.html");
}

QString THelpWindow::PageOf(int context) {
    switch (context) {
    case kContextAbout:
        return HelpUrl("about.html");
    case kContextMain:
        return HelpUrl("main.html");
    case kContextTerminal:
        return HelpUrl("terminal.html");
    case kContextSettings:
        return HelpUrl("settings.html");
    default:
        return ContentsPage();
    }
}

QString THelpWindow::CurrentPage() const {
    return browser_->source().toString();
}

void THelpWindow::ShowTopics() {
    ShowPage(ContentsPage());
}

void THelpWindow::ShowContext(int context) {
    ShowPage(PageOf(context));
}

void THelpWindow::ShowPage(const QString& page) {
    browser_->setSource(QUrl(page));
    if (isMinimized()) {
        showNormal();
    } else {
        show();
    }
    raise();
    activateWindow();
}

} // namespace pellwick
