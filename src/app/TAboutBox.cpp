#include "app/TAboutBox.h"

#include "app/TJpegDecoder.h"
#include "resources/Resources.h"
#include "terminal/TerminalFont.h"

#include <QFile>
#include <QFont>
#include <QFontDatabase>
#include <QFrame>
#include <QGuiApplication>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <QScreen>
#include <string>

namespace pellwick {

namespace {

QPixmap LoadAboutPicture() {
    QFile file(kAboutPicturePath);
    if (!file.open(QIODevice::ReadOnly)) {
        qWarning("about box: picture %s is missing", kAboutPicturePath);
        return QPixmap();
    }
    std::string error;
    const QImage image = TJpegDecoder::Decode(file.readAll(), &error);
    if (image.isNull()) {
        qWarning("about box: cannot decode %s: %s", kAboutPicturePath, error.c_str());
        return QPixmap();
    }
    return QPixmap::fromImage(image);
}

QFont PixelFont(QFont font, int pixels, bool bold = false) {
    font.setPixelSize(pixels);
    font.setBold(bold);
    return font;
}

} // namespace

TAboutBox::TAboutBox(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      panel1_(new QFrame(this)), programIcon_(new QLabel(panel1_)),
      okButton_(new QPushButton("OK", panel1_)) {
    InitResources();
    setWindowTitle("About");
    setFixedSize(kWidth, kHeight);

    // An etched edge: lowered outside, raised inside.
    panel1_->setObjectName("Panel1");
    panel1_->setFrameStyle(QFrame::Box | QFrame::Sunken);
    panel1_->setLineWidth(1);
    panel1_->setMidLineWidth(0);
    panel1_->setGeometry(0, 0, kWidth, kHeight);

    programIcon_->setObjectName("ProgramIcon");
    programIcon_->setGeometry(8, 8, 329, 129);
    programIcon_->setScaledContents(true);
    programIcon_->setPixmap(LoadAboutPicture());

    const QFont base = font();
    QFont roman("Serif");
    roman.setStyleHint(QFont::Serif);
    AddLabel("ProductName", kProductName, PixelFont(base, 19), 8, 144);
    // A typewriter face as the terminal's: one advance for every glyph, marked fixed or not.
    AddLabel("Version", kVersion,
             UsableTerminalFont(PixelFont(QFontDatabase::systemFont(QFontDatabase::FixedFont), 16)),
             8, 168);
    AddLabel("WebSite", kWebSite, PixelFont(roman, 21), 190, 176);
    AddLabel("PhoneNumber", kPhoneNumber, PixelFont(base, 16, true), 200, 200);

    okButton_->setObjectName("OKButton");
    okButton_->setGeometry(55, 204, 75, 25);
    okButton_->setDefault(true);
    connect(okButton_, &QPushButton::clicked, this, &QDialog::accept);
}

QLabel* TAboutBox::AddLabel(const char* name, const char* text, const QFont& labelFont, int x,
                            int y) {
    auto* label = new QLabel(QString::fromLatin1(text), panel1_);
    label->setObjectName(name);
    label->setFont(labelFont);
    label->move(x, y);
    label->adjustSize();
    return label;
}

bool TAboutBox::HasPicture() const {
    return !programIcon_->pixmap().isNull();
}

void TAboutBox::showEvent(QShowEvent* event) {
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        move(screen->availableGeometry().center() - rect().center());
    }
    okButton_->setFocus();
    QDialog::showEvent(event);
}

} // namespace pellwick
