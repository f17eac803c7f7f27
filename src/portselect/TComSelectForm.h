// The "Select Port" dialog: shown when a port must be opened and no valid port number is
// configured. It lists "COM" + n for every port n = 1..50 that the probe finds, the first one
// selected. OK closes it with Accepted, Cancel, Esc and the close box with Rejected.
#pragma once

#include <QDialog>

class QComboBox;
class QFrame;
class QLabel;
class QPushButton;

namespace pellwick {

class TComSelectForm : public QDialog {
    Q_OBJECT

public:
    static constexpr int kClientWidth = 220;
    static constexpr int kClientHeight = 131;

    // Probes COM1..COM50 one after the other before returning; no events are processed
    // meanwhile.
    explicit TComSelectForm(QWidget* parent = nullptr);

    // The number of the selected entry ("COM12" gives 12); 0 when the list is empty.
    int ChosenPortNumber() const;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void OkBtnClick();

    QLabel* label1_;
    QLabel* label2_;
    QFrame* bevel1_;
    QComboBox* portsComboBox_;
    QPushButton* okBtn_;
    QPushButton* abortBtn_;
};

// The port component's port selector: shows the dialog modally and, when the user confirms a
// listed port, stores its number and returns true. Cancel, closing the window and confirming
// an empty list return false and leave comNumber alone. GUI thread only.
bool SelectPortWithDialog(int& comNumber);

} // namespace pellwick
