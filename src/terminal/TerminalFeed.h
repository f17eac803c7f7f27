// The terminal's link to the serial dispatcher, without a window: it registers for the
// dispatcher's notifications, takes the received bytes from its input ring and writes them into
// the screen buffer (as text, with the chosen line ends widened, or as hex lines), and queues
// bytes to send. A receive observer (the capture file) is told of every byte as it came from
// the line. While held (scrollback), received bytes stay in the input ring; releasing shows all
// that arrived meanwhile.
//
// Everything runs on the GUI thread, except PostNotification, which the dispatch worker calls:
// it only posts an event to the feed. The feed writes into the buffer and calls its Refresh
// once per batch; what the buffer asks of its window is the buffer's business.
#pragma once

#include "serial/NotificationWindow.h"
#include "terminal/HexFormatter.h"
#include "terminal/LineEnds.h"

#include <QObject>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace pellwick {

class TBuffer;
class TVaxoBaseDispatcher;

class TerminalFeed : public QObject, public INotificationWindow {
    Q_OBJECT
public:
    // Bytes read at once when the feed is released: the whole input ring.
    static constexpr int CatchUpCount = 8192;

    explicit TerminalFeed(TBuffer& buffer, QObject* parent = nullptr);
    ~TerminalFeed() override;

    // Takes the dispatcher registered under this port handle (none when the handle is unknown).
    void TakeDispatcher(int portHandle);
    // Registers for the dispatcher's notifications, availability threshold 1 byte. False when
    // there is no dispatcher.
    bool Attach();
    void Detach();
    // Detaches and forgets the dispatcher (the port is closing).
    void ForgetDispatcher();
    TVaxoBaseDispatcher* Dispatcher() const { return dispatcher_; }
    bool Attached() const { return attached_; }

    // Held: notifications leave the received bytes in the input ring. Releasing takes them
    // (up to a whole ring) with the next turn of the event loop.
    void SetHeld(bool on);
    bool Held() const { return held_; }

    // Received bytes as hex lines (HexFormatter) instead of text. Switching starts a new line.
    void SetHexView(bool on);
    bool HexView() const { return hexView_; }
    // What Enter sends and which received line ends are widened for display (text view).
    void SetLineEnds(const LineEndMapping& mapping) { lineEnds_ = mapping; }
    const LineEndMapping& LineEnds() const { return lineEnds_; }
    // Sent bytes are also shown; each line end sent (CR, LF or CR LF) shows as a new line, so
    // that the device's answer does not overwrite what was typed.
    void SetHalfDuplex(bool on) { halfDuplex_ = on; }
    bool HalfDuplex() const { return halfDuplex_; }
    // Told of every received byte, as it came from the line, before it is shown.
    using ReceiveObserver = std::function<void(std::span<const std::uint8_t> bytes)>;
    void SetReceiveObserver(ReceiveObserver observer) { onReceive_ = std::move(observer); }
    // Told of every byte queued for the device.
    void SetSendObserver(ReceiveObserver observer) { onSend_ = std::move(observer); }
    // A line of the terminal's own (not from the device) on a line of its own, in text and hex
    // view alike; while held it waits until the feed is released.
    void ShowNote(std::string_view text);

    // Queues bytes for the device (echoed when HalfDuplex is on). False, with nothing sent,
    // without a dispatcher or when its output ring has no room for all of them.
    bool SendBytes(std::span<const std::uint8_t> bytes);

    // The received-data notification as handled on the GUI thread: count bytes wait.
    void HandleAvail(int count);

    // Called from the dispatch worker.
    void PostNotification(std::uint32_t msg, std::uint32_t wParam, std::uint32_t lParam,
                          std::shared_ptr<DeliveryToken> token) override;

protected:
    bool event(QEvent* e) override;

private:
    // Received (or echoed) bytes onto the screen, as the view shows them.
    void Show(std::span<const std::uint8_t> bytes);
    void Echo(std::span<const std::uint8_t> bytes);

    TBuffer& buffer_;
    TVaxoBaseDispatcher* dispatcher_ = nullptr;
    bool attached_ = false;
    bool held_ = false;
    bool inputPending_ = false; // data arrived while held
    bool halfDuplex_ = false;
    bool hexView_ = false;
    HexFormatter hex_;
    LineEndMapping lineEnds_;
    std::string shown_; // scratch for the bytes the screen is given
    ReceiveObserver onReceive_;
    ReceiveObserver onSend_;
    bool echoAfterCr_ = false; // the last byte echoed was a CR
    std::vector<std::string> heldNotes_;
};

} // namespace pellwick
