// ILinkPort on the program's port component: every call goes to the port as it stands, and
// the link's handlers are installed on the port's OnWaitChar, OnTriggerData,
// OnTriggerOutbuffFree and OnTriggerOutbuffUsed events.
#pragma once

#include "link/ILinkPort.h"
#include "serial/TVaxoCustomComPort.h"

namespace pellwick {

class ComPortLink : public ILinkPort {
public:
    explicit ComPortLink(TVaxoCustomComPort& port) : port_(port) {}
    ~ComPortLink() override;
    ComPortLink(const ComPortLink&) = delete;
    ComPortLink& operator=(const ComPortLink&) = delete;

    TVaxoCustomComPort& ComPort() { return port_; }

    void SetHandlers(LinkPortHandlers handlers) override;
    bool Open() const override { return port_.Open(); }
    void SetOpen(bool open) override { port_.SetOpen(open); }
    void SetComNumber(std::uint16_t number) override { port_.SetComNumber(number); }
    void SetBaud(std::int32_t baud) override { port_.SetBaud(baud); }
    void SetDataBits(std::uint16_t bits) override { port_.SetDataBits(bits); }
    void SetParityCode(std::uint8_t code) override;
    void SetStopBits(std::uint16_t bits) override { port_.SetStopBits(bits); }
    void SetHWFlowOptions(std::uint8_t options) override { port_.SetHWFlowOptions(options); }
    void SetDTR(bool on) override { port_.SetDTR(on); }
    void SetRTS(bool on) override { port_.SetRTS(on); }
    void SetOutSize(std::uint16_t size) override { port_.SetOutSize(size); }
    int Tag() const override { return port_.Tag(); }
    void SetTag(int tag) override { port_.SetTag(tag); }
    std::uint16_t OutputRoom() override { return port_.OutputRoom(); }
    std::uint16_t OutputCount() override { return port_.OutputCount(); }
    std::uint64_t OutputHanded() override { return port_.OutputHanded(); }
    std::int32_t DriverOutputCount() override { return port_.DriverOutputCount(); }
    double BytesPerSecond() const override;
    bool UntoldQueueBounded() const override;
    std::uint16_t InputCount() override { return port_.InputCount(); }
    std::uint16_t PendingLineError() override { return port_.PendingLineError(); }
    void WriteChar(char c) override { port_.WriteChar(c); }
    void WriteText(const std::string& text) override { port_.WriteText(text); }
    void WriteBlock(const void* buffer, std::uint16_t length) override {
        port_.WriteBlock(buffer, length);
    }
    void ReadBlock(void* buffer, std::uint16_t length) override { port_.ReadBlock(buffer, length); }
    char PeekInput(std::uint16_t index) override { return port_.PeekInput(index); }
    void DiscardInput() override { port_.DiscardInput(); }
    void DiscardOutput() override { port_.DiscardOutput(); }
    std::uint16_t NewTextTrigger(const std::string& text, bool ignoreCase) override {
        return port_.NewTextTrigger(text, ignoreCase);
    }
    std::uint16_t NewStatusTrigger(std::uint16_t kind) override {
        return port_.NewStatusTrigger(kind);
    }
    void DropTrigger(std::uint16_t handle) override { port_.DropTrigger(handle); }
    void ArmStatusTrigger(std::uint16_t handle, std::uint16_t value, bool activate) override {
        port_.ArmStatusTrigger(handle, value, activate);
    }
    bool HungUp() override { return port_.LineHungUp(); }
    void BeginInputWait() override { port_.BeginInputWait(); }
    InputLook TakeWaitingInput(const std::function<bool(char)>& done) override;
    void EndInputWait() override { port_.EndInputWait(); }
    bool CtsSignal() override { return port_.CtsSignal(); }
    std::uint8_t HWFlowOptions() const override { return port_.HWFlowOptions(); }
    std::string LineNote() const override { return port_.LineNote(); }

private:
    TVaxoCustomComPort& port_;
};

} // namespace pellwick
