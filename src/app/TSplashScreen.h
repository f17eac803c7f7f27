// The picture shown while the program starts: a frameless 600 x 400 window in the middle of the
// screen. It hides (and only hides) as soon as another window becomes active, for example the
// main window after start-up or any window the operator clicks meanwhile, when the operator
// clicks the picture itself, and at the latest when the start-up wait ends.
#pragma once

#include <QWidget>
#include <chrono>

class QLabel;

namespace pellwick {

class TSplashScreen : public QWidget {
    Q_OBJECT

public:
    static constexpr int kWidth = 600;
    static constexpr int kHeight = 400;
    static constexpr std::chrono::milliseconds kStartupWait{3000};

    explicit TSplashScreen(QWidget* parent = nullptr);

    // Shows the splash, paints it at once and then keeps handling events until `wait` has
    // passed on the millisecond clock. The wait lasts its full time even when the splash hides
    // before it ends; a splash still shown then is hidden.
    void ShowAndWait(std::chrono::milliseconds wait = kStartupWait);

    bool HasPicture() const;

protected:
    void changeEvent(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    QLabel* image1_;
};

} // namespace pellwick
