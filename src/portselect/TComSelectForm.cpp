#include "portselect/TComSelectForm.h"

#include "portselect/ProbePort.h"

#include <QComboBox>
#include <QFrame>
#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QStyle>

namespace pellwick {

TComSelectForm::TComSelectForm(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      label1_(new QLabel("The configured serial port is not valid.", this)),
      label2_(new QLabel("Please choose another port.", this)), bevel1_(new QFrame(this)),
      portsComboBox_(new QComboBox(this)),
      okBtn_(new QPushButton(style()->standardIcon(QStyle::SP_DialogOkButton), "OK", this)),
      abortBtn_(
          new QPushButton(style()->standardIcon(QStyle::SP_DialogCancelButton), "Cancel", this)) {
    setWindowTitle("Select Port");
    setFixedSize(kClientWidth, kClientHeight);

    // A lowered frame drawn behind the two labels.
    bevel1_->setObjectName("Bevel1");
    bevel1_->setFrameStyle(QFrame::Box | QFrame::Sunken);
    bevel1_->setGeometry(8, 8, 201, 42);
    bevel1_->lower();

    label1_->setObjectName("Label1");
    label1_->move(18, 14);
    label1_->adjustSize();
    label2_->setObjectName("Label2");
    label2_->move(18, 30);
    label2_->adjustSize();

    portsComboBox_->setObjectName("PortsComboBox");
    portsComboBox_->setEditable(false);
    portsComboBox_->setGeometry(8, 64, 201, portsComboBox_->sizeHint().height());
    for (int n = 1; n <= kMaxListedPort; ++n) {
        if (ProbePort(n)) {
            portsComboBox_->addItem(QString("COM%1").arg(n));
        }
    }
    if (portsComboBox_->count() > 0) {
        portsComboBox_->setCurrentIndex(0);
    }

    okBtn_->setObjectName("OkBtn");
    okBtn_->setGeometry(6, 96, 85, 27);
    okBtn_->setDefault(true);
    connect(okBtn_, &QPushButton::clicked, this, &TComSelectForm::OkBtnClick);

    abortBtn_->setObjectName("AbortBtn");
    abortBtn_->setGeometry(126, 95, 85, 27);
    abortBtn_->setAutoDefault(false);
    connect(abortBtn_, &QPushButton::clicked, this, &QDialog::reject);

    portsComboBox_->setFocus();
}

int TComSelectForm::ChosenPortNumber() const {
    // Entries are "COM" + number: the number starts at the 4th character.
    const QString text = portsComboBox_->currentText();
    bool ok = false;
    const int number = text.mid(3).toInt(&ok);
    return ok ? number : 0;
}

void TComSelectForm::OkBtnClick() {
    // With no port listed there is nothing to confirm: the caller hears "no port chosen".
    if (portsComboBox_->count() == 0) {
        reject();
        return;
    }
    accept();
}

void TComSelectForm::showEvent(QShowEvent* event) {
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        move(screen->availableGeometry().center() - rect().center());
    }
    QDialog::showEvent(event);
}

bool SelectPortWithDialog(int& comNumber) {
    TComSelectForm form;
    if (form.exec() != QDialog::Accepted) {
        return false;
    }
    const int chosen = form.ChosenPortNumber();
    if (chosen <= 0) {
        return false;
    }
    comNumber = chosen;
    return true;
}

} // namespace pellwick
