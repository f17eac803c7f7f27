// The simulator's side of the dialogue, fed any bytes in any pieces at any pace, with its upload
// faults switched on at random: a file it accepts is stored with exactly the size and checksum
// its header announced, under a name inside the store folder.
#include "Oracle.h"

#include "devsim/DeviceProtocol.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>

using pellwick::DeviceConfig;
using pellwick::DeviceProtocol;
using pellwick::fuzz::Expect;
using pellwick::fuzz::Readable;

namespace {

const std::filesystem::path& StoreDir() {
    static const pellwick::fuzz::ScratchFolder folder("devsim");
    return folder.Path();
}

std::int64_t MaybeFault(FuzzedDataProvider& input) {
    return input.ConsumeBool() ? input.ConsumeIntegralInRange<std::int64_t>(0, 40) : -1;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    DeviceConfig config;
    config.storeDir = StoreDir().string();
    config.echo = input.ConsumeBool();
    // Small limits keep a run fast; the rules are the same at any size.
    config.maxLine = input.ConsumeIntegralInRange<std::size_t>(1, 80);
    config.maxFileSize = 4096;
    config.dataTimeoutMs = input.ConsumeBool() ? 50 : 0;
    config.errAfter = MaybeFault(input);
    config.corruptAt = MaybeFault(input);
    config.dropAt = MaybeFault(input);
    config.garbage = input.ConsumeIntegralInRange<std::int64_t>(0, 3);

    DeviceProtocol device(config);
    auto now = DeviceProtocol::Clock::time_point{} + std::chrono::hours(1);
    while (input.remaining_bytes() > 0) {
        now += std::chrono::milliseconds(input.ConsumeIntegralInRange(0, 300));
        const std::string piece = input.ConsumeRandomLengthString(200);
        device.Receive(piece, now);
        device.Tick(now);
        device.TakeOutput();
        device.TakeNotes();
    }

    // A later file of the same address replaces the stored one: check the last of each.
    std::map<std::string, const pellwick::UploadRecord*> last;
    for (const auto& upload : device.Uploads()) {
        if (!upload.accepted) {
            Expect(upload.storedPath.empty(), "a refused file was stored");
        } else {
            last[upload.storedPath] = &upload;
        }
    }
    for (const auto& [path, record] : last) {
        const auto& upload = *record;
        const std::filesystem::path stored(upload.storedPath);
        Expect(stored.parent_path() == StoreDir(),
               "file stored outside the store folder: " + Readable(upload.storedPath));
        std::ifstream in(stored, std::ios::binary);
        const std::string bytes{std::istreambuf_iterator<char>(in),
                                std::istreambuf_iterator<char>()};
        std::uint16_t sum = 0;
        for (const char c : bytes) {
            sum = static_cast<std::uint16_t>(sum + static_cast<unsigned char>(c));
        }
        Expect(bytes.size() == upload.size && sum == upload.announcedChecksum,
               "accepted file " + Readable(upload.address) + " holds " +
                   std::to_string(bytes.size()) + " bytes, its header announced " +
                   std::to_string(upload.size));
    }
    for (const auto& entry : std::filesystem::directory_iterator(StoreDir())) {
        std::filesystem::remove(entry.path());
    }
    return 0;
}
