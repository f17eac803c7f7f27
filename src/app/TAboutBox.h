// The "About" box: picture, product name, version and the maker's contact lines. Created once
// and shown modally (exec()) as often as asked; OK or Enter closes it with QDialog::Accepted.
#pragma once

#include <QDialog>

class QFrame;
class QLabel;
class QPushButton;

namespace pellwick {

class TAboutBox : public QDialog {
    Q_OBJECT

public:
    static constexpr int kWidth = 345;
    static constexpr int kHeight = 241;
    static constexpr const char* kProductName = "Pellwick";
    static constexpr const char* kVersion = "Version 2.00";
    static constexpr const char* kWebSite = "quarrow.test";
    static constexpr const char* kPhoneNumber = "+1 555 0142";

    explicit TAboutBox(QWidget* parent = nullptr);

    // Whether the picture could be decoded; without it the box shows an empty area.
    bool HasPicture() const;

protected:
    void showEvent(QShowEvent* event) override;

private:
    QLabel* AddLabel(const char* name, const char* text, const QFont& font, int x, int y);

    QFrame* panel1_;
    QLabel* programIcon_;
    QPushButton* okButton_;
};

} // namespace pellwick
