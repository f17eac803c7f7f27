#include "station/window/StationWindow.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollArea>
#include <QStatusBar>
#include <QVBoxLayout>

namespace pellwick {

namespace {

const char* const VerdictIdle = "background:#d8d8d8; color:#606060;";
const char* const VerdictPass = "background:#1e9e3c; color:white;";
const char* const VerdictFail = "background:#d0201a; color:white;";

QString Q(const std::string& text) {
    return QString::fromLocal8Bit(text.data(), static_cast<qsizetype>(text.size()));
}

QString ElapsedText(double seconds) {
    const int whole = static_cast<int>(seconds);
    return QStringLiteral("%1:%2").arg(whole / 60).arg(whole % 60, 2, 10, QLatin1Char('0'));
}

constexpr StartMode Modes[] = {StartMode::Button, StartMode::Appear, StartMode::Probe};

// A control of a slot's row. It takes no focus: the keys work on the selected row, so a focused
// control would take them for itself.
template <typename Control>
Control* RowControl(Control* control, const char* name, const QString& tip, QGridLayout* grid,
                    int row, int column) {
    control->setObjectName(QLatin1String(name));
    control->setToolTip(tip);
    control->setFocusPolicy(Qt::NoFocus);
    grid->addWidget(control, row, column);
    return control;
}

} // namespace

StationWindow::StationWindow(Station& station, QWidget* parent)
    : QMainWindow(parent), station_(station) {
    setObjectName(QStringLiteral("StationWindow"));
    setWindowTitle(QStringLiteral("Pellwick Station - %1").arg(Q(station.Config().Folder)));

    auto* central = new QWidget(this);
    auto* layout = new QVBoxLayout(central);
    auto* top = new QHBoxLayout();
    totals_ = new QLabel(central);
    totals_->setObjectName(QStringLiteral("Totals"));
    QFont big = totals_->font();
    big.setPointSizeF(big.pointSizeF() * 1.4);
    big.setBold(true);
    totals_->setFont(big);
    top->addWidget(totals_, 1);
    lock_ = new QCheckBox(tr("&Lock settings"), central);
    lock_->setObjectName(QStringLiteral("Lock"));
    lock_->setToolTip(tr("Stops every edit of the settings while the line runs (Ctrl+L)"));
    lock_->setFont(big);
    // No control keeps the keyboard: every key goes to the window's actions.
    lock_->setFocusPolicy(Qt::NoFocus);
    top->addWidget(lock_);
    layout->addLayout(top);

    auto* rowsHolder = new QWidget(central);
    auto* rowsLayout = new QVBoxLayout(rowsHolder);
    rowsLayout->setContentsMargins(0, 0, 0, 0);
    rowsLayout->setSpacing(4);
    rows_.resize(static_cast<std::size_t>(station_.SlotCount()));
    for (int i = 0; i < station_.SlotCount(); ++i) {
        rowsLayout->addWidget(MakeRow(i));
    }
    rowsLayout->addStretch(1);
    auto* scroll = new QScrollArea(central);
    scroll->setWidgetResizable(true);
    scroll->setWidget(rowsHolder);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setFocusPolicy(Qt::NoFocus);
    layout->addWidget(scroll, 1);
    setCentralWidget(central);
    message_ = new QLabel(this);
    message_->setObjectName(QStringLiteral("Message"));
    statusBar()->addWidget(message_, 1);

    MakeActions();
    typed_.setSingleShot(true);
    typed_.setInterval(ScanDetector::MaxGap * 2);
    connect(&typed_, &QTimer::timeout, this,
            [this] { ActOnTyped(scan_.TakeTyped(ScanDetector::Clock::now())); });
    connect(lock_, &QCheckBox::toggled, this, [this] { RefreshEdits(); });
    connect(&station_, &Station::SlotChanged, this, &StationWindow::RefreshRow);
    connect(&station_, &Station::TotalsChanged, this, &StationWindow::RefreshTotals);
    connect(&station_, &Station::Message, this,
            [this](const QString& text) { message_->setText(text); });
    clock_.setInterval(1000);
    connect(&clock_, &QTimer::timeout, this, &StationWindow::Tick);

    SetLocked(station_.Config().Locked);
    for (int i = 0; i < station_.SlotCount(); ++i) {
        RefreshRow(i);
    }
    RefreshTotals();
    SelectSlot(0);
    resize(1100, std::min(140 + 74 * station_.SlotCount(), 900));
}

QWidget* StationWindow::MakeRow(int index) {
    StationSlot& slot = station_.Slot(index);
    Row& row = rows_[static_cast<std::size_t>(index)];
    row.Frame = new QFrame();
    row.Frame->setObjectName(QStringLiteral("Slot%1").arg(slot.Config().Number));
    row.Frame->setFrameShape(QFrame::StyledPanel);
    row.Frame->setLineWidth(2);
    auto* grid = new QGridLayout(row.Frame);
    grid->setContentsMargins(8, 4, 8, 4);

    auto* number = new QLabel(QStringLiteral("%1").arg(slot.Config().Number), row.Frame);
    QFont numberFont = number->font();
    numberFont.setPointSizeF(numberFont.pointSizeF() * 2);
    numberFont.setBold(true);
    number->setFont(numberFont);
    number->setMinimumWidth(40);
    grid->addWidget(number, 0, 0, 2, 1);

    row.Port = new QLabel(row.Frame);
    row.Port->setObjectName(QStringLiteral("Port"));
    row.Port->setMinimumWidth(220);
    grid->addWidget(row.Port, 0, 1, 2, 1);

    row.State = new QLabel(row.Frame);
    row.State->setObjectName(QStringLiteral("State"));
    QFont stateFont = row.State->font();
    stateFont.setBold(true);
    row.State->setFont(stateFont);
    grid->addWidget(row.State, 0, 2);
    row.Cause = new QLabel(row.Frame);
    row.Cause->setObjectName(QStringLiteral("Cause"));
    row.Cause->setWordWrap(true);
    row.Cause->setStyleSheet(QStringLiteral("color:#a01010;"));
    grid->addWidget(row.Cause, 1, 2, 1, 2);

    row.File = new QLabel(row.Frame);
    row.File->setObjectName(QStringLiteral("File"));
    grid->addWidget(row.File, 0, 3);
    row.Gauge = new QProgressBar(row.Frame);
    row.Gauge->setObjectName(QStringLiteral("Gauge"));
    row.Gauge->setRange(0, 100);
    row.Gauge->setMinimumWidth(180);
    grid->addWidget(row.Gauge, 0, 4);
    row.Elapsed = new QLabel(row.Frame);
    row.Elapsed->setObjectName(QStringLiteral("Elapsed"));
    row.Elapsed->setMinimumWidth(50);
    row.Elapsed->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    grid->addWidget(row.Elapsed, 0, 5);

    row.Start = RowControl(new QComboBox(row.Frame), "StartMode",
                           tr("How a board starts on this slot (Ctrl+M)"), grid, 1, 4);
    row.Start->addItems({tr("by button"), tr("when it appears"), tr("when it answers")});
    row.InService = RowControl(new QCheckBox(tr("in service"), row.Frame), "InService",
                               tr("Take the slot out of the line or back in (Ctrl+O)"), grid, 1, 5);
    row.InService->setChecked(true);
    row.StartButton = RowControl(new QPushButton(tr("Start"), row.Frame), "StartButton",
                                 tr("Start a board on this slot (Ctrl+Enter)"), grid, 0, 6);
    row.CancelButton = RowControl(new QPushButton(tr("Cancel"), row.Frame), "CancelButton",
                                  tr("Cancel this slot's board (Ctrl+Delete)"), grid, 1, 6);

    row.Verdict = new QLabel(row.Frame);
    row.Verdict->setObjectName(QStringLiteral("Verdict"));
    row.Verdict->setAlignment(Qt::AlignCenter);
    row.Verdict->setFixedSize(130, 58);
    QFont verdictFont = row.Verdict->font();
    verdictFont.setPointSizeF(verdictFont.pointSizeF() * 2.2);
    verdictFont.setBold(true);
    row.Verdict->setFont(verdictFont);
    grid->addWidget(row.Verdict, 0, 7, 2, 1);
    grid->setColumnStretch(2, 1);
    grid->setColumnStretch(3, 1);

    connect(row.StartButton, &QPushButton::clicked, this, [this, index] {
        SelectSlot(index);
        StartSelected();
    });
    connect(row.CancelButton, &QPushButton::clicked, this, [this, index] {
        SelectSlot(index);
        CancelSelected();
    });
    connect(row.InService, &QCheckBox::toggled, this, [this, index](bool on) {
        if (!Locked()) {
            station_.Slot(index).SetInService(on);
        }
    });
    connect(row.Start, &QComboBox::activated, this, [this, index](int item) {
        if (!Locked() && item >= 0 && item < 3) {
            station_.Slot(index).SetStartMode(Modes[item]);
        }
    });
    return row.Frame;
}

void StationWindow::MakeActions() {
    QMenu* menu = menuBar()->addMenu(tr("&Station"));
    auto add = [&](const QString& text, const QList<QKeySequence>& keys, auto slot) {
        auto* action = new QAction(text, this);
        action->setShortcuts(keys);
        action->setShortcutContext(Qt::WindowShortcut);
        connect(action, &QAction::triggered, this, slot);
        menu->addAction(action);
        addAction(action);
        return action;
    };
    // Every key that starts, cancels or changes a slot has a modifier: a barcode scanner types
    // like a keyboard, and what it types must never act on a slot.
    add(tr("&Start board on selected slot"),
        {QKeySequence(Qt::CTRL | Qt::Key_Return), QKeySequence(Qt::CTRL | Qt::Key_Enter)},
        &StationWindow::StartSelected);
    add(tr("Start &every waiting slot"),
        {QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Return),
         QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Enter)},
        &StationWindow::StartAllWaiting);
    add(tr("&Cancel board on selected slot"), {QKeySequence(Qt::CTRL | Qt::Key_Delete)},
        &StationWindow::CancelSelected);
    menu->addSeparator();
    add(tr("Select &previous slot"), {Qt::Key_Up}, [this] { SelectSlot(selected_ - 1); });
    add(tr("Select &next slot"), {Qt::Key_Down}, [this] { SelectSlot(selected_ + 1); });
    menu->addSeparator();
    inServiceAction_ = add(tr("Selected slot &in service or out"),
                           {QKeySequence(Qt::CTRL | Qt::Key_O)}, &StationWindow::ToggleInService);
    modeAction_ = add(tr("Selected slot's start &mode"), {QKeySequence(Qt::CTRL | Qt::Key_M)},
                      &StationWindow::CycleStartMode);
    auto* lockAction = add(tr("&Lock settings"), {QKeySequence(Qt::CTRL | Qt::Key_L)},
                           [this] { SetLocked(!Locked()); });
    lockAction->setCheckable(true);
    connect(lock_, &QCheckBox::toggled, lockAction, &QAction::setChecked);
    menu->addSeparator();
    add(tr("&Quit"), {QKeySequence(Qt::CTRL | Qt::Key_Q)}, &StationWindow::Quit);
}

bool StationWindow::Locked() const {
    return lock_->isChecked();
}

void StationWindow::SetLocked(bool locked) {
    lock_->setChecked(locked);
    RefreshEdits();
}

void StationWindow::RefreshEdits() {
    const bool editable = !Locked();
    for (Row& row : rows_) {
        row.Start->setEnabled(editable);
        row.InService->setEnabled(editable);
    }
    inServiceAction_->setEnabled(editable);
    modeAction_->setEnabled(editable);
}

void StationWindow::SelectSlot(int index) {
    if (rows_.empty()) {
        return;
    }
    selected_ = std::clamp(index, 0, static_cast<int>(rows_.size()) - 1);
    for (std::size_t i = 0; i < rows_.size(); ++i) {
        const bool selected = static_cast<int>(i) == selected_;
        rows_[i].Frame->setStyleSheet(
            selected ? QStringLiteral("QFrame#%1 { border: 2px solid #2a6fd6; }")
                           .arg(rows_[i].Frame->objectName())
                     : QString());
    }
}

void StationWindow::RefreshRow(int index) {
    StationSlot& slot = station_.Slot(index);
    const SlotView& view = slot.View();
    Row& row = rows_[static_cast<std::size_t>(index)];
    QString port = QStringLiteral("<b>%1</b>").arg(Q(slot.Config().Port).toHtmlEscaped());
    if (slot.Config().Port != slot.Config().DevicePath) {
        port += QStringLiteral("<br><small>%1</small>")
                    .arg(Q(slot.Config().DevicePath).toHtmlEscaped());
    }
    if (!view.Label.empty()) {
        port +=
            QStringLiteral("<br><small>label <b>%1</b></small>").arg(Q(view.Label).toHtmlEscaped());
    }
    if (!view.BoardId.empty()) {
        port +=
            QStringLiteral("<br><small>id <b>%1</b></small>").arg(Q(view.BoardId).toHtmlEscaped());
    }
    if (!view.AdapterSerial.empty()) {
        port += QStringLiteral("<br><small>serial %1</small>")
                    .arg(Q(view.AdapterSerial).toHtmlEscaped());
    }
    if (!view.Place.empty()) {
        port += QStringLiteral("<br><small>at %1</small>").arg(Q(view.Place).toHtmlEscaped());
    }
    if (const int boards = view.Passed + view.Failed; boards > 0) {
        port += tr("<br><small>yield %1/%2 (%3 %)</small>")
                    .arg(view.Passed)
                    .arg(boards)
                    .arg(100.0 * view.Passed / boards, 0, 'f', 0);
    }
    row.Port->setText(port);
    row.State->setText(Q(SlotStateName(view.State)));
    const bool loading = view.State == SlotState::Loading || view.State == SlotState::Verifying;
    row.File->setText(loading ? Q(view.File) : QString());
    row.Gauge->setValue(loading ? view.Percent : 0);
    row.Gauge->setEnabled(loading);
    const bool failed = view.State == SlotState::Failed || view.State == SlotState::BoardGone ||
                        view.State == SlotState::PortError || view.State == SlotState::NotThisSlot;
    const bool told = failed || (view.State == SlotState::Waiting && !view.Cause.empty());
    row.Cause->setText(told ? Q(view.Cause) : QString());
    const bool timed = loading || view.State == SlotState::Passed ||
                       view.State == SlotState::Failed || view.State == SlotState::BoardGone;
    row.Elapsed->setText(timed ? ElapsedText(view.ElapsedSeconds()) : QString());
    if (view.State == SlotState::Passed) {
        row.Verdict->setText(tr("PASS"));
        row.Verdict->setStyleSheet(VerdictPass);
    } else if (view.State == SlotState::Failed || view.State == SlotState::BoardGone) {
        row.Verdict->setText(tr("FAIL"));
        row.Verdict->setStyleSheet(VerdictFail);
    } else {
        row.Verdict->setText(loading ? tr("...") : QString());
        row.Verdict->setStyleSheet(VerdictIdle);
    }
    for (int i = 0; i < 3; ++i) {
        if (Modes[i] == slot.Mode()) {
            row.Start->setCurrentIndex(i);
        }
    }
    {
        const QSignalBlocker block(row.InService);
        row.InService->setChecked(slot.InService());
    }
    row.StartButton->setEnabled(!slot.Running() && slot.InService());
    row.CancelButton->setEnabled(slot.Running());
    if (loading && !clock_.isActive()) {
        clock_.start();
    }
}

void StationWindow::RefreshTotals() {
    const StationTotals totals = station_.Totals();
    totals_->setText(tr("Passed %1    Failed %2    Boards per hour %3 (last 15 min)%4")
                         .arg(totals.Passed)
                         .arg(totals.Failed)
                         .arg(totals.BoardsPerHour, 0, 'f', 0)
                         .arg(station_.Stopping() ? tr("    (no new boards)") : QString()));
}

void StationWindow::Tick() {
    bool loading = false;
    for (int i = 0; i < station_.SlotCount(); ++i) {
        if (station_.Slot(i).Running()) {
            loading = true;
            RefreshRow(i);
        }
    }
    // Boards per hour fall while the boards under way are not done yet.
    RefreshTotals();
    // A waiting station does not wake up for a clock nobody needs.
    if (!loading) {
        clock_.stop();
    }
}

void StationWindow::StartSelected() {
    StationSlot& slot = station_.Slot(selected_);
    if (station_.Stopping() || !slot.InService() || slot.Running()) {
        return;
    }
    const SlotState state = slot.View().State;
    // The board that has had its run may still be in the fixture: it is loaded again only when
    // the operator says so, or once a new label says that a new board is there.
    if ((state == SlotState::Passed || state == SlotState::Failed) && !slot.NewLabel()) {
        if (againQuestion_) {
            return;
        }
        const int index = selected_;
        againQuestion_ = Ask("AgainQuestion", tr("Start again"),
                             tr("The board of slot %1 has had its run (%2). Load it again?")
                                 .arg(slot.Config().Number)
                                 .arg(state == SlotState::Passed ? tr("passed") : tr("failed")),
                             [this, index] {
                                 if (!station_.Stopping()) {
                                     station_.Slot(index).StartBoard();
                                 }
                             });
        return;
    }
    slot.StartBoard();
}

void StationWindow::CancelSelected() {
    station_.Slot(selected_).Cancel();
}

void StationWindow::StartAllWaiting() {
    for (int i = 0; i < station_.SlotCount() && !station_.Stopping(); ++i) {
        StationSlot& slot = station_.Slot(i);
        if (slot.InService() && slot.View().State == SlotState::Waiting) {
            slot.StartBoard();
        }
    }
}

void StationWindow::ToggleInService() {
    if (!Locked()) {
        StationSlot& slot = station_.Slot(selected_);
        slot.SetInService(!slot.InService());
        RefreshRow(selected_);
    }
}

void StationWindow::CycleStartMode() {
    if (!Locked()) {
        StationSlot& slot = station_.Slot(selected_);
        const int next = (static_cast<int>(slot.Mode()) + 1) % 3;
        slot.SetStartMode(static_cast<StartMode>(next));
        RefreshRow(selected_);
    }
}

void StationWindow::keyPressEvent(QKeyEvent* event) {
    const auto now = ScanDetector::Clock::now();
    const Qt::KeyboardModifiers mods =
        event->modifiers() & ~(Qt::ShiftModifier | Qt::KeypadModifier);
    if (mods != Qt::NoModifier) {
        QMainWindow::keyPressEvent(event);
        return;
    }
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        typed_.stop();
        if (const auto label = scan_.Enter(now)) {
            BindLabel(*label);
        } else {
            ActOnTyped(scan_.TakeTyped(now));
        }
        return;
    }
    const QString text = event->text();
    if (text.size() == 1 && text[0].unicode() > 0x20 && text[0].unicode() < 0x7F) {
        scan_.Character(static_cast<char>(text[0].unicode()), now);
        typed_.start();
        return;
    }
    QMainWindow::keyPressEvent(event);
}

void StationWindow::ActOnTyped(const std::string& keys) {
    for (const char key : keys) {
        if (key >= '1' && key <= '9' && key - '1' < station_.SlotCount()) {
            SelectSlot(key - '1');
        }
    }
}

void StationWindow::BindLabel(const std::string& label) {
    const int count = station_.SlotCount();
    for (int step = 0; step < count; ++step) {
        const int index = (selected_ + step) % count;
        StationSlot& slot = station_.Slot(index);
        if (!slot.Running() && slot.InService()) {
            slot.SetLabel(label);
            SelectSlot(index);
            message_->setText(tr("Label %1 for slot %2").arg(Q(label)).arg(slot.Config().Number));
            return;
        }
    }
    message_->setText(tr("Label %1 scanned, but no slot can take a board now").arg(Q(label)));
}

void StationWindow::Quit() {
    close();
}

void StationWindow::closeEvent(QCloseEvent* event) {
    if (station_.Idle()) {
        event->accept();
        return;
    }
    event->ignore();
    if (quitting_ || quitQuestion_) {
        return;
    }
    quitQuestion_ =
        Ask("QuitQuestion", tr("Quit"),
            tr("Boards are being loaded. Take no new boards and quit once they are done?"),
            [this] { QuitWhenDone(); });
}

QMessageBox* StationWindow::Ask(const char* name, const QString& title, const QString& text,
                                std::function<void()> onYes) {
    auto* box = new QMessageBox(QMessageBox::Question, title, text,
                                QMessageBox::Yes | QMessageBox::No, this);
    box->setObjectName(QLatin1String(name));
    box->setAttribute(Qt::WA_DeleteOnClose);
    connect(box, &QMessageBox::finished, this, [onYes = std::move(onYes)](int answer) {
        if (answer == QMessageBox::Yes) {
            onYes();
        }
    });
    box->open();
    return box;
}

void StationWindow::QuitWhenDone() {
    quitting_ = true;
    station_.StopNewBoards();
    RefreshTotals();
    const auto closeWhenIdle = [this] {
        if (station_.Idle()) {
            close();
        }
    };
    connect(&station_, &Station::TotalsChanged, this, closeWhenIdle);
    closeWhenIdle();
}

} // namespace pellwick
