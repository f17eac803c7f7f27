#include "BenchPort.h"

#include <cstdio>
#include <map>

namespace pellwick::bench {

MappedPort::MappedPort(const std::string& path)
    : portMap_{PortMap::GlobalHook(),
               std::make_shared<PortMap>(std::map<int, std::string>{{1, path}})} {
    port_.SetAutoOpen(false);
    port_.SetPromptForPort(false);
}

void MappedPort::OpenCom1() {
    port_.SetComNumber(1);
    port_.SetOpen(true);
}

BenchLink::BenchLink(const std::string& path)
    : port_(path), portLink_(port_.Port()), link_(portLink_, boxes_) {
    boxes_.OnShow = [](const test::BoxCall& box) {
        std::fprintf(stderr, "message box: %s\n", box.Text.c_str());
    };
    link_.SetHost(&host_);
}

bool BenchLink::OpenForUpload(std::int32_t baud) {
    Rs232Settings settings;
    settings.BaudRate = baud;
    settings.UseRts = false;
    settings.RequireCts = false;
    if (!link_.OpenWithSettings(settings, LinkSettings{})) {
        return false;
    }
    link_.SetUploadMode(true);
    std::string answer;
    link_.SendInitCmd("UL\r", answer);
    if (answer != "OK") {
        std::fprintf(stderr, "no upload prompt: %s\n", answer.c_str());
        return false;
    }
    return true;
}

} // namespace pellwick::bench
