// The terminal form: one terminal control on the settings window's serial port, a row of
// status lights for the port's lines, a status line with the port settings and the cursor
// position, and the menus (clear, scroll back, exit, copy, font).
//
// While the form is shown the terminal owns the received bytes: showing it switches the host's
// data trigger off and activates the terminal and the lights; closing hands the port back.
// The form is created once and then only hidden and shown.
#pragma once

#include <QMainWindow>
#include <QString>
#include <array>

class QAction;
class QFontDialog;
class QHeaderView;
class QStandardItemModel;
class QWidget;

namespace pellwick {

class ITerminalHost;
class TVaxoCustomComPort;
class TVaxoStatusLight;
class TVaxoTerminal;
class TVaxoSLController;

class TFrmTerminal : public QMainWindow {
    Q_OBJECT
public:
    static constexpr int HelpContext = 110;

    // port: the settings window's port (the form never owns it); host: the settings window
    // (may be none).
    TFrmTerminal(TVaxoCustomComPort* port, ITerminalHost* host, QWidget* parent = nullptr);
    ~TFrmTerminal() override;

    TVaxoTerminal& Terminal() { return *terminal_; }
    TVaxoSLController& LightController() { return *lights_; }
    // " COM1 8N1 19200" for the port's settings; empty without a port.
    static QString PortSettingsText(const TVaxoCustomComPort* port);
    // The text of status line section 0 or 1.
    QString StatusText(int section) const;
    int StatusSectionWidth(int section) const;
    QAction* ScrollBackAction() const { return actScrollBack_; }
    // Beeps given for keys refused while the port's device is away (one each loss).
    int RefusedKeyBeeps() const { return refusedBeeps_; }

public slots:
    // Window activation: the port settings go to the status line.
    void FormActivate();
    void ClearTerminal();
    void ToggleScrollBackItem();
    void CopyMarked();
    void ChooseFont();

protected:
    void showEvent(QShowEvent* e) override;
    void closeEvent(QCloseEvent* e) override;
    void changeEvent(QEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void BuildMenus();
    QWidget* BuildLights();
    void SetStatusText(int section, const QString& text);
    // The create handler's reopening of the port.
    void ReopenPort();
    static void PortOpenedOrClosing(void* context, TVaxoCustomComPort* port, bool opening);

    TVaxoCustomComPort* port_;
    ITerminalHost* host_;
    TVaxoTerminal* terminal_ = nullptr;
    TVaxoSLController* lights_ = nullptr;
    QHeaderView* statusLine_ = nullptr;
    QStandardItemModel* statusModel_ = nullptr;
    QFontDialog* fontDialog_ = nullptr;
    QAction* actScrollBack_ = nullptr;
    bool beeped_ = false;
    int refusedBeeps_ = 0;
};

} // namespace pellwick
