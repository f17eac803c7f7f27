#include "terminal/TVaxoCustomTerminal.h"

#include "serial/DispatcherTypes.h"
#include "serial/TVaxoBaseDispatcher.h"
#include "serial/TVaxoCustomComPort.h"
#include "serial/TVaxoWin32Dispatcher.h"
#include "serial/errors/ErrorNumbers.h"
#include "serial/errors/ErrorToException.h"
#include "terminal/TTerminal.h"
#include "terminal/TerminalFeed.h"
#include "terminal/TerminalFont.h"

#include <QFontDatabase>
#include <QLayout>
#include <algorithm>
#include <exception>

namespace pellwick {

namespace {

QFont SystemFixedFont() {
    return UsableTerminalFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
}

int PaletteIndexOf(const TBuffer::Palette& palette, const QColor& color) {
    const std::uint32_t rgb = color.rgb() & 0xFFFFFFu;
    for (int i = 0; i < 16; ++i) {
        if (palette[i] == rgb) {
            return i;
        }
    }
    return -1;
}

} // namespace

TVaxoCustomTerminal::TVaxoCustomTerminal(QWidget* parent) : QWidget(parent) {
    setFocusPolicy(Qt::StrongFocus);
    term_ = new TTerminal(this);
    setFocusProxy(term_);
    term_->SetStatusHandler(
        [this](std::uint32_t first, std::uint32_t second) { OnWindowStatus(first, second); });
    term_->SetErrorHandler([this](int code) {
        if (onError_) {
            onError_(*this, static_cast<std::uint16_t>(code));
        }
    });
    term_->SetScrollbackRequest([this](bool on) { SetScrollback(on); });
    term_->Feed().SetReceiveObserver([this](std::span<const std::uint8_t> bytes) {
        if (paste_ && paste_->AwaitingPrompt()) {
            paste_->Received(bytes);
        }
        if (onReceived_) {
            onReceived_(bytes);
        }
    });
    pasteTimer_.setInterval(PasteTickMs);
    connect(&pasteTimer_, &QTimer::timeout, this, &TVaxoCustomTerminal::PasteTick);
    resize(200, 200);
    SetFont(SystemFixedFont());
    SizeToCells(displayColumns_, displayRows_);
    term_->SetWantTabs(wantTabs_);
    term_->Clear(true);
}

TVaxoCustomTerminal::~TVaxoCustomTerminal() {
    if (port_) {
        port_->RemoveNotifyWindow(this);
    }
    term_->Feed().ForgetDispatcher();
}

void TVaxoCustomTerminal::Loaded() {
    if (!port_ && parent()) {
        if (auto* found = parent()->findChild<TVaxoCustomComPort*>()) {
            SetComPort(found);
        }
    }
    if (pending_) {
        SetActive(true);
    }
    term_->Clear(true);
}

const TBuffer& TVaxoCustomTerminal::Buffer() const {
    return term_->Buffer();
}

// --- Port and activation ------------------------------------------------------------------------

int TVaxoCustomTerminal::TryAttach() {
    if (!port_) {
        return ecPortNotAssigned;
    }
    TVaxoWin32Dispatcher* dispatcher = nullptr;
    try {
        dispatcher = port_->CurrentDispatcher();
    } catch (const std::exception&) {
        // A port that cannot open now leaves the activation pending until it opens.
        return ecBadHandle;
    }
    if (!dispatcher) {
        return ecBadHandle;
    }
    term_->Feed().TakeDispatcher(dispatcher->PortHandle());
    return term_->Feed().Attach() ? 0 : ecBadHandle;
}

void TVaxoCustomTerminal::SetActive(bool on) {
    if (!on) {
        // An inactive terminal hands the line to others (an upload): its paste ends here.
        EndPaste();
        term_->Feed().Detach();
        active_ = false;
        pending_ = false;
        return;
    }
    if (!port_) {
        ErrorToException(ecPortNotAssigned);
    }
    if (TryAttach() < 0) {
        pending_ = true;
        port_->RequestOpenOnLoad();
        return;
    }
    pending_ = false;
    active_ = true;
}

void TVaxoCustomTerminal::SetComPort(TVaxoCustomComPort* port) {
    if (port == port_) {
        return;
    }
    if (port_) {
        port_->RemoveNotifyWindow(this);
    }
    term_->Feed().ForgetDispatcher();
    const bool wanted = active_ || pending_;
    active_ = false;
    port_ = port;
    pending_ = wanted;
    if (!port) {
        return;
    }
    port->AddNotifyWindow(this);
    if (wanted && (port->Open() || port->AutoOpen())) {
        ErrorToException(TryAttach());
        active_ = true;
        pending_ = false;
    }
}

void TVaxoCustomTerminal::AttachPort() {
    ErrorToException(TryAttach());
}

void TVaxoCustomTerminal::DetachPort() {
    term_->Feed().Detach();
}

bool TVaxoCustomTerminal::event(QEvent* e) {
    if (e->type() == PortNotifyEvent::EventType()) {
        const auto* n = static_cast<PortNotifyEvent*>(e);
        if (n->Msg == MsgPortOpened && port_) {
            if (TVaxoWin32Dispatcher* dispatcher = port_->CurrentDispatcher()) {
                term_->Feed().TakeDispatcher(dispatcher->PortHandle());
            }
            if (pending_) {
                SetActive(true);
            }
        } else if (n->Msg == MsgPortClosing) {
            term_->Feed().ForgetDispatcher();
            pending_ = active_;
            active_ = false;
        }
        return true;
    }
    return QWidget::event(e);
}

// --- Buffer size --------------------------------------------------------------------------------

void TVaxoCustomTerminal::ApplyBufferSize(int rows, int columns, int pageHeight) {
    if (static_cast<long>(rows) * columns > MaxCells) {
        ErrorToException(ecBufferTooBig);
    }
    ErrorToException(term_->ResizeBuffer(pageHeight, rows, columns));
    rows_ = rows;
    columns_ = columns;
    pageHeight_ = pageHeight;
    FitWindow();
}

void TVaxoCustomTerminal::SetRows(int n) {
    const int rows = std::max(n, pageHeight_);
    int columns = columns_;
    if (static_cast<long>(rows) * columns > MaxCells) {
        columns = MaxCells / std::max(rows, 1);
    }
    ApplyBufferSize(rows, columns, pageHeight_);
}

void TVaxoCustomTerminal::SetColumns(int n) {
    const int columns = std::max(n, DisplayColumns());
    int rows = rows_;
    if (static_cast<long>(rows) * columns > MaxCells) {
        rows = MaxCells / std::max(columns, 1);
    }
    ApplyBufferSize(rows, columns, pageHeight_);
}

void TVaxoCustomTerminal::SetPageHeight(int n) {
    ApplyBufferSize(rows_, columns_, std::min(n, rows_));
}

int TVaxoCustomTerminal::DisplayRows() const {
    return isVisible() ? term_->Buffer().VisibleRows() : displayRows_;
}

int TVaxoCustomTerminal::DisplayColumns() const {
    return isVisible() ? term_->Buffer().VisibleColumns() : displayColumns_;
}

void TVaxoCustomTerminal::SetDisplayRows(int n) {
    if (integralSize_ != isHeight && integralSize_ != isBoth) {
        return;
    }
    SizeToCells(DisplayColumns(), std::clamp(n, 1, pageHeight_));
}

void TVaxoCustomTerminal::SetDisplayColumns(int n) {
    if (integralSize_ != isWidth && integralSize_ != isBoth) {
        return;
    }
    SizeToCells(std::clamp(n, 1, columns_), DisplayRows());
}

void TVaxoCustomTerminal::SizeToCells(int columns, int rows) {
    displayColumns_ = columns;
    displayRows_ = rows;
    updateGeometry();
    const QWidget* owner = parentWidget();
    const bool laidOut = owner && owner->layout() && owner->layout()->indexOf(this) >= 0;
    if (!laidOut) {
        resize(term_->SizeForCells(columns, rows));
    }
    FitWindow();
}

QSize TVaxoCustomTerminal::sizeHint() const {
    return term_->SizeForCells(displayColumns_, displayRows_);
}

void TVaxoCustomTerminal::resizeEvent(QResizeEvent* e) {
    QWidget::resizeEvent(e);
    FitWindow();
}

void TVaxoCustomTerminal::FitWindow() {
    // The window takes what the control offers, trimmed to whole cells where integral sizing
    // asks for it and never more than the page (C x P cells).
    const TBuffer& b = term_->Buffer();
    const QSize extra = term_->FrameExtra();
    const int cw = std::max(b.CellWidth(), 1);
    const int ch = std::max(b.CellHeight(), 1);
    int w = std::max(width() - extra.width(), 0);
    int h = std::max(height() - extra.height(), 0);
    if (integralSize_ == isWidth || integralSize_ == isBoth) {
        w -= w % cw;
    }
    if (integralSize_ == isHeight || integralSize_ == isBoth) {
        h = std::max(h - h % ch, ch);
    }
    w = std::min(w, b.Columns() * cw);
    h = std::min(h, b.PageHeight() * ch);
    term_->setGeometry(0, 0, w + extra.width(), h + extra.height());
}

// --- Scroll bars, scrollback --------------------------------------------------------------------

void TVaxoCustomTerminal::SetScrollBars(TScrollStyle style) {
    scrollBars_ = style;
    // A permanent bar replaces the auto bar of its direction.
    int autoBits = autoScroll_;
    if (style == ssHorizontal || style == ssBoth) {
        autoBits &= ~asHorizontal;
    }
    if (style == ssVertical || style == ssBoth) {
        autoBits &= ~asVertical;
    }
    autoScroll_ = static_cast<TAutoScroll>(autoBits);
    ApplyScrollBarModes();
}

void TVaxoCustomTerminal::SetAutoScroll(TAutoScroll style) {
    autoScroll_ = style;
    ApplyScrollBarModes();
}

void TVaxoCustomTerminal::ApplyScrollBarModes() {
    term_->SetScrollBarModes(scrollBars_ == ssHorizontal || scrollBars_ == ssBoth,
                             scrollBars_ == ssVertical || scrollBars_ == ssBoth,
                             autoScroll_ == asHorizontal || autoScroll_ == asBoth,
                             autoScroll_ == asVertical || autoScroll_ == asBoth);
    FitWindow();
}

void TVaxoCustomTerminal::SetIntegralSize(TIntegralSize mode) {
    integralSize_ = mode;
    FitWindow();
}

bool TVaxoCustomTerminal::Scrollback() const {
    return term_->Scrollback();
}

void TVaxoCustomTerminal::SetScrollback(bool on) {
    if (on == term_->Scrollback()) {
        return;
    }
    if (on) {
        allColumnsOnEntry_ = DisplayColumns() == columns_;
        widthOnEntry_ = width();
        term_->ToggleScrollback();
        return;
    }
    term_->ToggleScrollback();
    if (allColumnsOnEntry_) {
        if (integralSize_ == isWidth || integralSize_ == isBoth) {
            SetDisplayColumns(columns_);
        } else if (width() != widthOnEntry_) {
            resize(widthOnEntry_, height());
        }
    }
}

// --- Settings forwarded to the window -----------------------------------------------------------

void TVaxoCustomTerminal::SetWantTabs(bool on) {
    wantTabs_ = on;
    term_->SetWantTabs(on);
}

void TVaxoCustomTerminal::SetBlinkTime(int milliseconds) {
    if (milliseconds == blinkTime_) {
        return;
    }
    blinkTime_ = milliseconds;
    term_->SetBlinkTime(milliseconds);
}

void TVaxoCustomTerminal::SetPersistentMark(bool on) {
    if (on == persistentMark_) {
        return;
    }
    persistentMark_ = on;
    term_->SetPersistentMark(on);
}

void TVaxoCustomTerminal::SetHalfDuplex(bool on) {
    if (on == halfDuplex_) {
        return;
    }
    halfDuplex_ = on;
    term_->Feed().SetHalfDuplex(on);
}

bool TVaxoCustomTerminal::HexView() const {
    return term_->Feed().HexView();
}

void TVaxoCustomTerminal::SetHexView(bool on) {
    term_->Feed().SetHexView(on);
}

const LineEndMapping& TVaxoCustomTerminal::LineEnds() const {
    return term_->Feed().LineEnds();
}

void TVaxoCustomTerminal::SetLineEnds(const LineEndMapping& mapping) {
    term_->Feed().SetLineEnds(mapping);
}

void TVaxoCustomTerminal::SetOnReceived(
    std::function<void(std::span<const std::uint8_t>)> observer) {
    onReceived_ = std::move(observer);
}

void TVaxoCustomTerminal::SetOnSent(std::function<void(std::span<const std::uint8_t>)> observer) {
    term_->Feed().SetSendObserver(std::move(observer));
}

void TVaxoCustomTerminal::ShowNote(std::string_view text) {
    term_->Feed().ShowNote(text);
}

// --- Paste --------------------------------------------------------------------------------------

bool TVaxoCustomTerminal::StartPaste(std::string bytes, PasteProgress onProgress,
                                     const PastePacing& pacing) {
    if (paste_ || !active_ || !term_->Feed().Dispatcher()) {
        return false;
    }
    paste_ = std::make_unique<PastePacer>(std::move(bytes), PastePacer::Clock::now(), pacing);
    pasteProgress_ = std::move(onProgress);
    PasteTick();
    if (paste_) {
        pasteTimer_.start();
    }
    return true;
}

void TVaxoCustomTerminal::PasteTick() {
    if (!paste_) {
        return;
    }
    TVaxoBaseDispatcher* d = term_->Feed().Dispatcher();
    if (!d || !port_) {
        EndPaste(); // the port closed under the paste
        return;
    }
    const std::string_view next =
        paste_->Next(PastePacer::Clock::now(), port_->Baud(), d->OutputUsed(), d->OutputFree());
    if (!next.empty() && !term_->Feed().SendBytes(
                             {reinterpret_cast<const std::uint8_t*>(next.data()), next.size()})) {
        EndPaste();
        return;
    }
    if (paste_->Done() || paste_->PromptMissed()) {
        EndPaste();
    } else if (!next.empty() && pasteProgress_) {
        pasteProgress_({paste_->Sent(), paste_->Total(), false, false, paste_->LinesSent()});
    }
}

void TVaxoCustomTerminal::StopPaste() {
    EndPaste();
}

void TVaxoCustomTerminal::EndPaste() {
    if (!paste_) {
        return;
    }
    pasteTimer_.stop();
    const std::unique_ptr<PastePacer> ended = std::move(paste_);
    const PasteProgress progress = std::move(pasteProgress_);
    pasteProgress_ = nullptr;
    if (progress) {
        progress({ended->Sent(), ended->Total(), true, ended->PromptMissed(), ended->LinesSent()});
    }
}

// --- Colours and font ---------------------------------------------------------------------------

void TVaxoCustomTerminal::SetColor(const QColor& color) {
    color_ = color;
    ApplyColors();
}

void TVaxoCustomTerminal::SetFontColor(const QColor& color) {
    fontColor_ = color;
    ApplyColors();
}

void TVaxoCustomTerminal::SetFont(const QFont& font) {
    QFont chosen = font;
    if (!term_->SetTerminalFont(chosen)) {
        // A font of uneven widths: the nearest usable one at the size asked for.
        chosen = UsableTerminalFont(font);
        term_->SetTerminalFont(chosen);
    }
    font_ = chosen;
    ApplyColors();
    updateGeometry();
    FitWindow();
}

void TVaxoCustomTerminal::ApplyColors() {
    const TBuffer& b = term_->Buffer();
    TBuffer::Palette palette = b.Colours();
    bool changed = false;
    int background = PaletteIndexOf(palette, color_);
    if (background < 0) {
        background = b.CurrentBackground();
        palette[background] = color_.rgb() & 0xFFFFFFu;
        changed = true;
    }
    int foreground = PaletteIndexOf(palette, fontColor_);
    if (foreground < 0) {
        foreground = b.CurrentForeground();
        palette[foreground] = fontColor_.rgb() & 0xFFFFFFu;
        changed = true;
    }
    if (changed) {
        term_->SetPalette(palette);
    }
    SetDefaultColors(static_cast<std::uint8_t>(foreground), static_cast<std::uint8_t>(background));
}

void TVaxoCustomTerminal::SetDefaultColors(std::uint8_t foreground, std::uint8_t background) {
    term_->SetDefaultColors(foreground, background);
}

// --- Operations and events ----------------------------------------------------------------------

void TVaxoCustomTerminal::Clear() {
    term_->Clear(true);
}

void TVaxoCustomTerminal::CopyToClipboard() {
    term_->CopyMark();
}

void TVaxoCustomTerminal::OnWindowStatus(std::uint32_t first, std::uint32_t second) {
    if (onStatus_) {
        onStatus_(*this, static_cast<std::uint8_t>(first & 0xFF),
                  static_cast<std::uint8_t>(first >> 8 & 0xFF),
                  static_cast<std::uint16_t>(second & 0xFFFF),
                  static_cast<std::uint16_t>(second >> 16));
    }
}

} // namespace pellwick
