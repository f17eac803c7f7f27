// The station's window: one row per slot with its port and adapter serial, its state, the file
// being loaded with its gauge, the elapsed time, and a large verdict that stays until the board
// is removed; the totals on top; a Lock switch that stops every edit of the settings (each
// slot's start and whether it is in service) while the line runs. Every action has a key (the
// Station menu lists them). It renders the station; the slots hold the logic.
#pragma once

#include "station/ScanDetector.h"
#include "station/Station.h"

#include <QMainWindow>
#include <QMessageBox>
#include <QPointer>
#include <QTimer>
#include <functional>
#include <vector>

class QAction;
class QCheckBox;
class QComboBox;
class QFrame;
class QLabel;
class QProgressBar;
class QPushButton;

namespace pellwick {

class StationWindow : public QMainWindow {
    Q_OBJECT
public:
    explicit StationWindow(Station& station, QWidget* parent = nullptr);

    bool Locked() const;
    void SetLocked(bool locked);
    int SelectedSlot() const { return selected_; }
    void SelectSlot(int index);

protected:
    void closeEvent(QCloseEvent* event) override;
    // Keys without a modifier only select a slot; a scanner's line gives a label.
    void keyPressEvent(QKeyEvent* event) override;

private:
    struct Row {
        QFrame* Frame = nullptr;
        QLabel* Port = nullptr;
        QLabel* State = nullptr;
        QLabel* Cause = nullptr;
        QLabel* File = nullptr;
        QProgressBar* Gauge = nullptr;
        QLabel* Elapsed = nullptr;
        QComboBox* Start = nullptr;
        QCheckBox* InService = nullptr;
        QPushButton* StartButton = nullptr;
        QPushButton* CancelButton = nullptr;
        QLabel* Verdict = nullptr;
    };

    QWidget* MakeRow(int index);
    void MakeActions();
    void RefreshRow(int index);
    void RefreshTotals();
    void RefreshEdits();
    void Tick();
    void StartSelected();
    void CancelSelected();
    void StartAllWaiting();
    void ToggleInService();
    void CycleStartMode();
    void Quit();
    // The keys that turned out to be typing, not a scan: digits select a slot.
    void ActOnTyped(const std::string& keys);
    // A scanned label goes to the selected slot when it can take a board, else to the next
    // one that can.
    void BindLabel(const std::string& label);
    // After "Yes" to the quit question: no new boards, and the window closes once the running
    // ones are done (at once if they ended while the question was shown).
    void QuitWhenDone();
    // A Yes/No question in a dialog of its own (no nested event loop: the boards go on while it
    // is shown); onYes runs on Yes. It deletes itself once answered.
    QMessageBox* Ask(const char* name, const QString& title, const QString& text,
                     std::function<void()> onYes);

    Station& station_;
    std::vector<Row> rows_;
    int selected_ = 0;
    QLabel* totals_ = nullptr;
    QLabel* message_ = nullptr;
    QCheckBox* lock_ = nullptr;
    QAction* inServiceAction_ = nullptr;
    QAction* modeAction_ = nullptr;
    QTimer clock_; // the elapsed times, once a second while a board loads
    ScanDetector scan_;
    QTimer typed_; // gives held keys back as typing once no scan follows
    bool quitting_ = false;
    // The quit question while it is shown: a dialog of its own, so that the boards' events go
    // on meanwhile and none of them is missed.
    QPointer<QMessageBox> quitQuestion_;
    // The question before a board that has had its run is loaded again.
    QPointer<QMessageBox> againQuestion_;
};

} // namespace pellwick
