// The help window: the HTML help pages linked into the program, shown in a browser with the
// table of contents, back and forward. Help context numbers name the page of a window or menu
// item.
#pragma once

#include <QString>
#include <QWidget>

class QTextBrowser;

namespace pellwick {

class THelpWindow : public QWidget {
    Q_OBJECT

public:
    // Help contexts used by the program's windows and menu items.
    static constexpr int kContextAbout = 10;
    static constexpr int kContextMain = 20;
    static constexpr int kContextTerminal = 110;
    static constexpr int kContextSettings = 210;

    explicit THelpWindow(QWidget* parent = nullptr);

    // The table of contents.
    void ShowTopics();
    // The page of a help context; an unknown number shows the table of contents.
    void ShowContext(int context);

    // "qrc:/pellwick/help/<page>" for a context, the contents page for an unknown one.
    static QString PageOf(int context);
    static QString ContentsPage();
    // The page shown now.
    QString CurrentPage() const;

private:
    void ShowPage(const QString& page);

    QTextBrowser* browser_;
};

} // namespace pellwick
