#include "AppTestSupport.h"

#include <QApplication>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTest>
#include <QTimer>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>

namespace pellwick::test {

void RecordingLink::BeginCommand(const std::string& text) {
    Sent.push_back(text);
    answer_ = "OK";
    if (!Answers.empty()) {
        answer_ = Answers.front();
        Answers.pop_front();
    }
}

void RecordingLink::StopTransfer() {
    if (Transferring) {
        QTimer::singleShot(0, [this] { Drain(); });
    }
}

void RecordingLink::SendBuffer(const std::uint8_t* bytes, std::uint32_t count) {
    Blocks.emplace_back(reinterpret_cast<const char*>(bytes), count);
    Transferring = true;
    if (AutoDrain) {
        QTimer::singleShot(20, [this] { Drain(); });
    }
}

void RecordingLink::Drain() {
    if (!Transferring) {
        return;
    }
    Transferring = false;
    Host->SetUploadGauge(100);
    Host->EnableScriptTimer();
}

WorkFolder::WorkFolder() : previous_(std::filesystem::current_path().string()) {
    std::filesystem::current_path(folder_.Path());
}

WorkFolder::~WorkFolder() {
    std::error_code error;
    std::filesystem::current_path(previous_, error);
}

void WorkFolder::Write(const std::string& name, const std::string& content) const {
    std::ofstream out(File(name), std::ios::binary);
    out << content;
}

std::string WorkFolder::Read(const std::string& name) const {
    std::ifstream in(File(name), std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void WhenModalWidget(std::function<bool(QWidget*)> action) {
    auto* poll = new QTimer(qApp);
    poll->setInterval(10);
    QObject::connect(poll, &QTimer::timeout, poll, [poll, action] {
        QWidget* modal = QApplication::activeModalWidget();
        if (modal != nullptr && modal->isVisible() && action(modal)) {
            poll->stop();
            poll->deleteLater();
        }
    });
    poll->start();
}

} // namespace pellwick::test
