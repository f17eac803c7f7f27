// The thread of a port on the network: the connection through libgensio (telnet with RFC 2217
// or raw TCP), its event loop, the two directions of the bytes and the settings the server owes.
#include "serial/NetworkLink.h"

#include "serial/DeviceNotice.h"
#include "serial/errors/OpenFailure.h"
#include "serial/portmap/NetworkAddress.h"
#include "serial/portmap/PortMap.h"

#include <gensio/gensio.h>
#include <gensio/gensio_os_funcs_public.h>
#include <gensio/gensio_unix.h>
#include <gensio/selector.h>
#include <gensio/sergensio.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <csignal>
#include <cstring>
#include <deque>
#include <pthread.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace pellwick {

namespace {

using Clock = std::chrono::steady_clock;
using Command = NetworkSerialDevice::Link::Command;
using CommandKind = NetworkSerialDevice::Link::CommandKind;

// The settings whose acknowledgement the server owes.
enum AckKind { AckBaud, AckDataBits, AckParity, AckStopBits, AckFlow, AckDtr, AckRts, AckKinds };
constexpr const char* kAckNames[AckKinds] = {"baud rate",    "data bits", "parity", "stop bits",
                                             "flow control", "DTR",       "RTS"};

double BytesPerSecond(const LineBlock& line) {
    // Until the first setting the port has not said: its usual rate.
    const double baud = line.baud != 0 ? line.baud : 115200.0;
    const double stop = line.stopBits == One5StopBits ? 1.5 : line.stopBits == TwoStopBits ? 2 : 1;
    return baud / (1.0 + line.byteSize + (line.parity != 0 ? 1.0 : 0.0) + stop);
}

unsigned ParityCode(std::uint8_t parity) {
    switch (parity) {
    case 1:
        return SERGENSIO_PARITY_ODD;
    case 2:
        return SERGENSIO_PARITY_EVEN;
    case 3:
        return SERGENSIO_PARITY_MARK;
    case 4:
        return SERGENSIO_PARITY_SPACE;
    default:
        return SERGENSIO_PARITY_NONE;
    }
}

unsigned FlowCode(const LineBlock& line) {
    if (line.outxCtsFlow || line.rtsControl == LineControl::Handshake) {
        return SERGENSIO_FLOWCONTROL_RTS_CTS;
    }
    return line.outX || line.inX ? SERGENSIO_FLOWCONTROL_XON_XOFF : SERGENSIO_FLOWCONTROL_NONE;
}

bool IsNameError(int err) {
    return err == GE_NAME_ERROR || err == GE_UNKNOWN_NAME_ERROR || err == GE_NAME_INVALID ||
           err == GE_NAME_SERVER_FAILURE || err == GE_NAME_NET_NOT_UP || err == GE_NOTFOUND;
}

int NoEvents(struct gensio*, void*, int, int, unsigned char*, gensiods*, const char* const*) {
    return GE_NOTSUP;
}

// libgensio keeps, for the rest of the process, the os handler that first made a gensio of a
// kind, and uses it whenever another of that kind is made. A session's own handler is freed
// when the session ends, so a handler that is never freed makes each kind first.
bool PrepareLibrary() {
    static const bool ready = [] {
        struct gensio_os_funcs* o = nullptr;
        if (gensio_unix_funcs_alloc(nullptr, 0, &o) != 0) {
            return false;
        }
        struct gensio* io = nullptr;
        if (str_to_gensio("telnet(rfc2217),tcp,127.0.0.1,1", o, &NoEvents, nullptr, &io) != 0) {
            return false;
        }
        gensio_free(io);
        return true;
    }();
    return ready;
}

// The device's thread: the connection, its event loop and the two directions of the bytes.
// Everything here runs on that thread only.
class Session {
public:
    explicit Session(std::shared_ptr<NetworkSerialDevice::Link> link) : link_(std::move(link)) {}
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    void Run() {
        // The library writes to the connection without MSG_NOSIGNAL: a write to a server that
        // has gone raises SIGPIPE, which ends a program that does not ignore it. Blocked on
        // this thread only, the write fails with EPIPE and the signal goes with the thread.
        sigset_t pipe;
        sigemptyset(&pipe);
        sigaddset(&pipe, SIGPIPE);
        pthread_sigmask(SIG_BLOCK, &pipe, nullptr);
        if (Connect()) {
            while (!ending_) {
                gensio_os_funcs_service(o_, nullptr);
            }
        }
        TearDown();
        link_->SetPhase(NetworkSerialDevice::Link::Phase::Ended);
    }

private:
    using Phase = NetworkSerialDevice::Link::Phase;

    bool Fail(DeviceResult result, const std::string& why) {
        link_->SetPhase(Phase::Failed, result, link_->text + ": " + why);
        return false;
    }

    std::string GensioSpec() const {
        const NetworkAddress& a = link_->address;
        // The host is checked to hold only name, address and bracket-free IPv6 characters, so
        // it cannot add options or layers to this string.
        std::string layers = a.kind == NetworkAddress::Kind::Rfc2217
                                 ? "telnet(rfc2217),tcp(nodelay),"
                                 : "tcp(nodelay),";
        layers += a.ipv6 ? "ipv6," : "";
        return layers + a.host + "," + std::to_string(a.port);
    }

    bool Connect() {
        if (!PrepareLibrary() || sel_alloc_selector_nothread(&sel_) != 0 ||
            gensio_unix_funcs_alloc(sel_, 0, &o_) != 0) {
            return Fail({DeviceError::NoMemory, ENOMEM}, "cannot set up the network layer");
        }
        if (sel_set_fd_handlers(sel_, link_->wakeFd, this, &Session::OnWake, nullptr, nullptr,
                                &Session::OnWakeCleared) != 0) {
            return Fail({DeviceError::NoMemory, ENOMEM}, "cannot set up the network layer");
        }
        wakeRegistered_ = true;
        sel_set_fd_read_handler(sel_, link_->wakeFd, SEL_FD_HANDLER_ENABLED);
        // Resolves the host name here, on this thread: a slow name server delays only it.
        const int made = str_to_gensio(GensioSpec().c_str(), o_, &Session::OnEvent, this, &io_);
        if (made != 0) {
            io_ = nullptr;
            if (IsNameError(made)) {
                return Fail({DeviceError::NotFound, 0}, "unknown host " + link_->address.host +
                                                            " (" + gensio_err_to_str(made) + ")");
            }
            return Fail({DeviceError::Failed, EINVAL}, gensio_err_to_str(made));
        }
        if (const int err = gensio_open(io_, &Session::OnOpened, this); err != 0) {
            return FailOpen(err);
        }
        while (!opened_ && !ending_) {
            gensio_os_funcs_service(o_, nullptr);
        }
        if (ending_) {
            return false; // the opener gave up waiting
        }
        if (openError_ != 0) {
            return FailOpen(openError_);
        }
        connected_ = true;
        if (link_->address.kind == NetworkAddress::Kind::Rfc2217) {
            sio_ = gensio_to_sergensio(io_);
            // Asking the baud rate is how a refusal of serial port control shows.
            if (!sio_ || sergensio_baud(sio_, 0, nullptr, nullptr) == GE_NOTSUP) {
                return Fail({DeviceError::Unsupported, EPROTONOSUPPORT},
                            "the server does not speak RFC 2217 (it refused telnet's serial port "
                            "control); for a port that carries only bytes use tcp://" +
                                link_->text.substr(link_->text.find("://") + 3));
            }
            sergensio_modemstate(sio_, 0xF0);
            sergensio_linestate(sio_,
                                SERGENSIO_LINESTATE_OVERRUN_ERR | SERGENSIO_LINESTATE_PARITY_ERR |
                                    SERGENSIO_LINESTATE_FRAMING_ERR | SERGENSIO_LINESTATE_BREAK);
            // A server answers a question about the baud rate once this client has the port.
            // One whose port another client holds negotiates, says so in text and closes: that
            // is a failed opening, not a port that hangs up at once.
            gensio_set_read_callback_enable(io_, true);
            if (sergensio_baud(sio_, 0, &Session::OnFirstAnswer, this) == 0) {
                while (!answered_ && !lost_ && !ending_) {
                    gensio_os_funcs_service(o_, nullptr);
                }
            }
            if (ending_) {
                return false;
            }
            if (lost_) {
                return FailOpen(GE_REMCLOSE);
            }
        }
        paceTimer_ = gensio_os_funcs_alloc_timer(o_, &Session::OnPaceTimer, this);
        ackTimer_ = gensio_os_funcs_alloc_timer(o_, &Session::OnAckTimer, this);
        if (!paceTimer_ || !ackTimer_ ||
            sel_set_fd_handlers(sel_, link_->peerFd, this, &Session::OnPeerReadable,
                                &Session::OnPeerWritable, nullptr, &Session::OnPeerCleared) != 0) {
            return Fail({DeviceError::NoMemory, ENOMEM}, "cannot set up the network layer");
        }
        peerRegistered_ = true;
        SetPeerRead(true);
        gensio_set_read_callback_enable(io_, true);
        link_->SetPhase(Phase::Open);
        return true;
    }

    bool FailOpen(int err) {
        const NetworkAddress& a = link_->address;
        const std::string where =
            (a.ipv6 ? "[" + a.host + "]" : a.host) + ":" + std::to_string(a.port);
        switch (err) {
        case GE_CONNREFUSE:
            return Fail({DeviceError::Failed, ECONNREFUSED},
                        "connection refused: no server listens on " + where);
        case GE_TIMEDOUT:
            return Fail({DeviceError::Failed, ETIMEDOUT}, "no answer from " + where);
        case GE_HOSTDOWN:
            return Fail({DeviceError::Failed, EHOSTUNREACH}, where + " cannot be reached");
        case GE_REMCLOSE:
            return Fail({DeviceError::Failed, ECONNRESET},
                        "the server closed the connection at once (does it allow another "
                        "client?)");
        default:
            if (IsNameError(err)) {
                return Fail({DeviceError::NotFound, 0}, "unknown host " + a.host);
            }
            return Fail({DeviceError::Failed, EIO}, gensio_err_to_str(err));
        }
    }

    void TearDown() {
        if (ackTimer_) {
            gensio_os_funcs_stop_timer(o_, ackTimer_);
            gensio_os_funcs_free_timer(o_, ackTimer_);
        }
        if (paceTimer_) {
            gensio_os_funcs_stop_timer(o_, paceTimer_);
            gensio_os_funcs_free_timer(o_, paceTimer_);
        }
        if (io_) {
            if (connected_ && !closing_) {
                closing_ = true;
                if (gensio_close(io_, &Session::OnClosed, this) != 0) {
                    closed_ = true;
                }
            }
            for (int round = 0; closing_ && !closed_ && round < 50; ++round) {
                gensio_time wait{0, 20 * 1000 * 1000};
                gensio_os_funcs_service(o_, &wait);
            }
            gensio_free(io_);
        }
        LetGoOfPeer();
        if (wakeRegistered_) {
            sel_clear_fd_handlers(sel_, link_->wakeFd);
        }
        for (int round = 0; (peerRegistered_ || wakeRegistered_) && round < 50; ++round) {
            gensio_time wait{0, 20 * 1000 * 1000};
            gensio_os_funcs_service(o_, &wait);
        }
        if (o_) {
            gensio_os_funcs_free(o_);
        }
        if (sel_) {
            sel_free_selector(sel_);
        }
    }

    // Shutting the thread's end of the socket pair is what the dispatcher sees as a hang-up;
    // the descriptor is closed once the event loop has let go of it.
    void LetGoOfPeer() {
        const int fd = link_->peerFd;
        if (fd < 0 || peerClearing_) {
            return;
        }
        shutdown(fd, SHUT_RDWR);
        if (peerRegistered_) {
            peerClearing_ = true;
            sel_clear_fd_handlers(sel_, fd);
            return;
        }
        close(fd);
        link_->peerFd = -1;
    }

    static void OnPeerCleared(int fd, void* self) {
        auto* s = static_cast<Session*>(self);
        close(fd);
        s->link_->peerFd = -1;
        s->peerRegistered_ = false;
    }

    static void OnWakeCleared(int, void* self) {
        static_cast<Session*>(self)->wakeRegistered_ = false;
    }

    void Lose() {
        if (lost_) {
            return;
        }
        lost_ = true;
        gensio_set_read_callback_enable(io_, false);
        gensio_set_write_callback_enable(io_, false);
        LetGoOfPeer();
    }

    void SetPeerRead(bool on) {
        if (peerRegistered_ && !peerClearing_ && on != peerReading_) {
            peerReading_ = on;
            sel_set_fd_read_handler(sel_, link_->peerFd,
                                    on ? SEL_FD_HANDLER_ENABLED : SEL_FD_HANDLER_DISABLED);
        }
    }

    // --- Output: the dispatcher's bytes to the network, no faster than the line ----------

    double InFlight(Clock::time_point now) const {
        return lineFreeAt_ > now ? std::chrono::duration<double>(lineFreeAt_ - now).count() * rate_
                                 : 0.0;
    }

    std::size_t Budget(Clock::time_point now) const {
        const double room = static_cast<double>(NetworkSerialDevice::WindowBytes) - InFlight(now);
        return room >= 1 ? static_cast<std::size_t>(room) : 0;
    }

    void PullOutput() {
        if (lost_ || pendingAt_ < pending_.size()) {
            return;
        }
        const auto now = Clock::now();
        const std::size_t budget = Budget(now);
        if (budget == 0) {
            WaitForLine(now);
            return;
        }
        std::uint8_t buffer[4096];
        const ssize_t n =
            recv(link_->peerFd, buffer, std::min(budget, sizeof buffer), MSG_DONTWAIT);
        if (n <= 0) {
            if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
                SetPeerRead(false); // the dispatcher's end is closed: the port is closing
            }
            return;
        }
        lineFreeAt_ = std::max(lineFreeAt_, now) +
                      std::chrono::duration_cast<Clock::duration>(
                          std::chrono::duration<double>(static_cast<double>(n) / rate_));
        pending_.assign(buffer, buffer + n);
        pendingAt_ = 0;
        PushPending();
    }

    void PushPending() {
        while (pendingAt_ < pending_.size()) {
            gensiods count = 0;
            if (gensio_write(io_, &count, pending_.data() + pendingAt_,
                             pending_.size() - pendingAt_, nullptr) != 0) {
                Lose();
                return;
            }
            if (count == 0) {
                break;
            }
            pendingAt_ += count;
        }
        if (pendingAt_ < pending_.size()) {
            SetPeerRead(false);
            gensio_set_write_callback_enable(io_, true);
            return;
        }
        pending_.clear();
        pendingAt_ = 0;
        gensio_set_write_callback_enable(io_, false);
        const auto now = Clock::now();
        if (Budget(now) > 0) {
            SetPeerRead(true);
        } else {
            WaitForLine(now);
        }
    }

    // Output waits until the line has carried an eighth of the window.
    void WaitForLine(Clock::time_point now) {
        SetPeerRead(false);
        if (pacing_) {
            return;
        }
        const double excess =
            InFlight(now) - static_cast<double>(NetworkSerialDevice::WindowBytes) * 7 / 8;
        const auto wait = std::chrono::duration_cast<std::chrono::nanoseconds>(
            std::chrono::duration<double>(std::max(excess, 1.0) / rate_));
        gensio_time timeout{static_cast<std::int64_t>(wait.count() / 1000000000),
                            static_cast<std::int32_t>(wait.count() % 1000000000)};
        pacing_ = gensio_os_funcs_start_timer(o_, paceTimer_, &timeout) == 0;
        if (!pacing_) {
            SetPeerRead(true);
        }
    }

    // --- Input: the network's bytes to the dispatcher ---------------------------------------

    int Received(int err, const unsigned char* buffer, gensiods* length) {
        if (err != 0) {
            Lose();
            return 0;
        }
        ssize_t n = send(link_->peerFd, buffer, *length, MSG_DONTWAIT | MSG_NOSIGNAL);
        if (n < 0) {
            if (errno != EAGAIN && errno != EINTR) {
                Lose();
                return 0;
            }
            n = 0;
        }
        if (static_cast<gensiods>(n) < *length) {
            // The dispatcher's input is full: the rest stays with gensio until there is room
            // (while opening, until the opening has ended and reading starts again).
            gensio_set_read_callback_enable(io_, false);
            if (peerRegistered_) {
                sel_set_fd_write_handler(sel_, link_->peerFd, SEL_FD_HANDLER_ENABLED);
            }
        }
        *length = static_cast<gensiods>(n);
        return 0;
    }

    // --- Commands from the port --------------------------------------------------------------

    void TakeCommands() {
        std::uint64_t count = 0;
        [[maybe_unused]] const auto n = read(link_->wakeFd, &count, sizeof count);
        std::deque<Command> commands;
        bool stop = false;
        std::uint64_t through = 0;
        {
            std::lock_guard guard(link_->lock);
            commands.swap(link_->commands);
            stop = link_->stop;
            through = link_->posted;
        }
        if (stop) {
            ending_ = true;
        } else if (connected_) {
            for (const Command& command : commands) {
                Apply(command);
            }
        }
        {
            std::lock_guard guard(link_->lock);
            link_->applied = through;
        }
        link_->changed.notify_all();
    }

    void Apply(const Command& command) {
        switch (command.kind) {
        case CommandKind::Line:
            rate_ = BytesPerSecond(command.line);
            if (sio_ && !lost_) {
                SendLine(command.line);
            }
            break;
        case CommandKind::Dtr:
            if (sio_ && !lost_ && sentDtr_ != static_cast<int>(command.on)) {
                sentDtr_ = command.on;
                const unsigned value = command.on ? SERGENSIO_DTR_ON : SERGENSIO_DTR_OFF;
                Expect(AckDtr, value,
                       sergensio_dtr(sio_, value, &Session::OnAck, &tokens_[AckDtr]));
            }
            break;
        case CommandKind::Rts:
            if (sio_ && !lost_ && sentRts_ != static_cast<int>(command.on)) {
                sentRts_ = command.on;
                const unsigned value = command.on ? SERGENSIO_RTS_ON : SERGENSIO_RTS_OFF;
                Expect(AckRts, value,
                       sergensio_rts(sio_, value, &Session::OnAck, &tokens_[AckRts]));
            }
            break;
        case CommandKind::Break:
            if (sio_ && !lost_) {
                sergensio_send_break(sio_);
            }
            break;
        case CommandKind::PurgeOutput:
            DropOutput();
            break;
        }
    }

    // What waits here for the network is discarded with the dispatcher's output; what the
    // network has taken is the server's.
    void DropOutput() {
        std::size_t dropped = pending_.size() - pendingAt_;
        pending_.clear();
        pendingAt_ = 0;
        if (link_->peerFd >= 0) {
            std::uint8_t buffer[4096];
            ssize_t n;
            while ((n = recv(link_->peerFd, buffer, sizeof buffer, MSG_DONTWAIT)) > 0) {
                dropped += static_cast<std::size_t>(n);
            }
        }
        lineFreeAt_ -= std::chrono::duration_cast<Clock::duration>(
            std::chrono::duration<double>(static_cast<double>(dropped) / rate_));
        if (!lost_) {
            gensio_set_write_callback_enable(io_, false);
            PushPending();
        }
    }

    void SendLine(const LineBlock& line) {
        const bool first = !lineSent_;
        if (first || line.baud != sent_.baud) {
            Expect(AckBaud, line.baud,
                   sergensio_baud(sio_, line.baud, &Session::OnAck, &tokens_[AckBaud]));
        }
        if (first || line.byteSize != sent_.byteSize) {
            Expect(AckDataBits, line.byteSize,
                   sergensio_datasize(sio_, line.byteSize, &Session::OnAck, &tokens_[AckDataBits]));
        }
        if (first || line.parity != sent_.parity) {
            const unsigned parity = ParityCode(line.parity);
            Expect(AckParity, parity,
                   sergensio_parity(sio_, parity, &Session::OnAck, &tokens_[AckParity]));
        }
        if (first || line.stopBits != sent_.stopBits) {
            // RFC 2217 numbers them 1 one, 2 two, 3 one and a half.
            const unsigned stop = line.stopBits == TwoStopBits    ? 2
                                  : line.stopBits == One5StopBits ? 3
                                                                  : 1;
            Expect(AckStopBits, stop,
                   sergensio_stopbits(sio_, stop, &Session::OnAck, &tokens_[AckStopBits]));
        }
        if (first || FlowCode(line) != FlowCode(sent_)) {
            Expect(AckFlow, FlowCode(line),
                   sergensio_flowcontrol(sio_, FlowCode(line), &Session::OnAck, &tokens_[AckFlow]));
        }
        sent_ = line;
        lineSent_ = true;
    }

    void Expect(AckKind kind, unsigned value, int sent) {
        if (sent != 0) {
            return; // not sent: nothing to wait for
        }
        asked_[kind] = value;
        awaiting_[kind] = true;
        deadline_[kind] = Clock::now() + NetworkSerialDevice::AckWait;
        if (!ackTimerRunning_) {
            StartAckTimer(NetworkSerialDevice::AckWait);
        }
    }

    void StartAckTimer(std::chrono::nanoseconds wait) {
        gensio_time timeout{static_cast<std::int64_t>(wait.count() / 1000000000),
                            static_cast<std::int32_t>(wait.count() % 1000000000)};
        ackTimerRunning_ = gensio_os_funcs_start_timer(o_, ackTimer_, &timeout) == 0;
    }

    void CheckAcks() {
        ackTimerRunning_ = false;
        const auto now = Clock::now();
        std::string missing;
        auto next = Clock::time_point::max();
        for (int kind = 0; kind < AckKinds; ++kind) {
            if (!awaiting_[kind]) {
                continue;
            }
            if (deadline_[kind] <= now) {
                awaiting_[kind] = false;
                missing += (missing.empty() ? "" : ", ") + std::string(kAckNames[kind]);
            } else {
                next = std::min(next, deadline_[kind]);
            }
        }
        if (!missing.empty() && !ackNoted_) {
            ackNoted_ = true;
            TellDeviceNotice(link_->text + ": the server did not confirm the " + missing +
                             " within " + std::to_string(NetworkSerialDevice::AckWait.count()) +
                             " ms (its serial device may not take them: a pseudo-terminal has "
                             "no modem lines); the port goes on without the confirmation");
        }
        if (next != Clock::time_point::max()) {
            StartAckTimer(next - now);
        }
    }

    // --- gensio and selector callbacks -------------------------------------------------------

    static int OnEvent(struct gensio*, void* self, int event, int err, unsigned char* buffer,
                       gensiods* length, const char* const*) {
        auto* s = static_cast<Session*>(self);
        switch (event) {
        case GENSIO_EVENT_READ:
            return s->Received(err, buffer, length);
        case GENSIO_EVENT_WRITE_READY:
            s->PushPending();
            return 0;
        case GENSIO_EVENT_SER_MODEMSTATE:
            if (buffer && *length >= sizeof(unsigned int)) {
                unsigned int state = 0;
                std::memcpy(&state, buffer, sizeof state);
                s->link_->modem = static_cast<std::uint8_t>(state & 0xF0);
            }
            return 0;
        case GENSIO_EVENT_SER_LINESTATE:
            if (buffer && *length >= sizeof(unsigned int)) {
                unsigned int state = 0;
                std::memcpy(&state, buffer, sizeof state);
                s->CountLineState(state);
            }
            return 0;
        default:
            return GE_NOTSUP;
        }
    }

    void CountLineState(unsigned int state) {
        if (state & SERGENSIO_LINESTATE_OVERRUN_ERR) {
            ++link_->overrun;
        }
        if (state & SERGENSIO_LINESTATE_PARITY_ERR) {
            ++link_->parity;
        }
        if (state & SERGENSIO_LINESTATE_FRAMING_ERR) {
            ++link_->frame;
        }
        if (state & SERGENSIO_LINESTATE_BREAK) {
            ++link_->brk;
        }
    }

    static void OnOpened(struct gensio*, int err, void* self) {
        auto* s = static_cast<Session*>(self);
        s->opened_ = true;
        s->openError_ = err;
    }

    static void OnClosed(struct gensio*, void* self) {
        static_cast<Session*>(self)->closed_ = true;
    }

    struct AckToken {
        Session* session;
        AckKind kind;
    };

    static void OnAck(struct sergensio*, int err, unsigned int value, void* data) {
        const auto* token = static_cast<const AckToken*>(data);
        Session* s = token->session;
        // Only an answer that confirms the value asked for acknowledges it: a server whose
        // device lacks the line answers with an error or with a value of no meaning.
        if (err == 0 && value == s->asked_[token->kind]) {
            s->awaiting_[token->kind] = false;
        }
    }

    static void OnFirstAnswer(struct sergensio*, int, unsigned int, void* self) {
        static_cast<Session*>(self)->answered_ = true;
    }

    static void OnWake(int, void* self) { static_cast<Session*>(self)->TakeCommands(); }

    static void OnPeerReadable(int, void* self) { static_cast<Session*>(self)->PullOutput(); }

    static void OnPeerWritable(int fd, void* self) {
        auto* s = static_cast<Session*>(self);
        sel_set_fd_write_handler(s->sel_, fd, SEL_FD_HANDLER_DISABLED);
        if (!s->lost_) {
            gensio_set_read_callback_enable(s->io_, true);
        }
    }

    static void OnPaceTimer(struct gensio_timer*, void* self) {
        auto* s = static_cast<Session*>(self);
        s->pacing_ = false;
        if (!s->lost_) {
            s->SetPeerRead(true);
        }
    }

    static void OnAckTimer(struct gensio_timer*, void* self) {
        static_cast<Session*>(self)->CheckAcks();
    }

    std::shared_ptr<NetworkSerialDevice::Link> link_;
    struct selector_s* sel_ = nullptr;
    struct gensio_os_funcs* o_ = nullptr;
    struct gensio* io_ = nullptr;
    struct sergensio* sio_ = nullptr;
    struct gensio_timer* paceTimer_ = nullptr;
    struct gensio_timer* ackTimer_ = nullptr;
    bool wakeRegistered_ = false, peerRegistered_ = false, peerReading_ = false;
    bool peerClearing_ = false;
    bool opened_ = false, connected_ = false, closing_ = false, closed_ = false;
    bool answered_ = false;
    bool lost_ = false, ending_ = false, pacing_ = false, ackTimerRunning_ = false;
    int openError_ = 0;

    std::vector<std::uint8_t> pending_;
    std::size_t pendingAt_ = 0;
    double rate_ = BytesPerSecond(LineBlock{});
    // When the line will have carried every byte handed to the network so far.
    Clock::time_point lineFreeAt_{};

    LineBlock sent_;
    bool lineSent_ = false;
    int sentDtr_ = -1, sentRts_ = -1;
    AckToken tokens_[AckKinds] = {{this, AckBaud},     {this, AckDataBits}, {this, AckParity},
                                  {this, AckStopBits}, {this, AckFlow},     {this, AckDtr},
                                  {this, AckRts}};
    bool awaiting_[AckKinds] = {};
    unsigned asked_[AckKinds] = {};
    Clock::time_point deadline_[AckKinds] = {};
    bool ackNoted_ = false;
};

} // namespace

void RunNetworkSession(std::shared_ptr<NetworkSerialDevice::Link> link) {
    Session(std::move(link)).Run();
}

} // namespace pellwick
