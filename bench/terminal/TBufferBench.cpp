// Throughput of the screen buffer for received terminal text: bytes go through ProcessBytes (the
// terminal's receive path) or ProcessByte one at a time, and every batch ends with Refresh, as
// the terminal window does for each notification.
#include "terminal/TBuffer.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace {

using namespace pellwick;

// A window that ignores every request, so that only the buffer's own work is measured.
struct NullView : ITerminalView {
    void InvalidateRect(const PixelRect&, bool) override {}
    void InvalidateAll() override {}
    void UpdateWindow() override {}
    void ScrollContent(int, int, const PixelRect&) override {}
    void SetScrollRange(ScrollBar, int, int) override {}
    void SetScrollPos(ScrollBar, int) override {}
    void MoveCaret(int, int) override {}
    void PostStatus(std::uint32_t, std::uint32_t) override {}
    void ReportError(int) override {}
    bool StartMarkTimer(int) override { return true; }
    void StopMarkTimer() override {}
    void CaptureMouse() override {}
    void ReleaseMouse() override {}
    PixelPoint PointerPosition() const override { return {}; }
    bool SetClipboardText(const std::string&) override { return true; }
};

// Printable lines of 0 to 100 characters ended by CR LF (longer ones wrap), with an occasional
// BS, TAB, ESC, BEL or NUL among them.
std::vector<std::uint8_t> MixedText(std::size_t size) {
    std::mt19937 rng(12345);
    std::uniform_int_distribution<int> lineLength(0, 100);
    std::uniform_int_distribution<int> printable(32, 126);
    std::uniform_int_distribution<int> percent(0, 99);
    const std::uint8_t controls[] = {8, 9, 27, 7, 0};
    std::vector<std::uint8_t> text;
    text.reserve(size + 128);
    while (text.size() < size) {
        for (int n = lineLength(rng); n > 0; --n) {
            text.push_back(percent(rng) < 3 ? controls[percent(rng) % 5]
                                            : static_cast<std::uint8_t>(printable(rng)));
        }
        text.push_back('\r');
        text.push_back('\n');
    }
    text.resize(size);
    return text;
}

template <bool Whole> void BM_TBufferMixedText(benchmark::State& state) {
    const auto batch = static_cast<std::size_t>(state.range(0));
    const std::vector<std::uint8_t> text = MixedText(1 << 20);
    NullView view;
    TBuffer buf(view, 80, 200);
    buf.SetCellSize(8, 16);
    buf.SetClientSize(80 * 8, 25 * 16);
    std::size_t pos = 0;
    for (auto _ : state) {
        if (pos + batch > text.size()) {
            pos = 0;
        }
        if constexpr (Whole) {
            buf.ProcessBytes({text.data() + pos, batch});
        } else {
            for (std::size_t i = 0; i < batch; ++i) {
                buf.ProcessByte(text[pos + i]);
            }
        }
        buf.Refresh();
        pos += batch;
    }
    benchmark::DoNotOptimize(buf.Characters().data());
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * batch));
}
// Batch sizes: a single echoed byte, a typical notification, a full input ring.
BENCHMARK(BM_TBufferMixedText<true>)->Name("ProcessBytes")->Arg(1)->Arg(64)->Arg(8192);
BENCHMARK(BM_TBufferMixedText<false>)->Name("ProcessByte")->Arg(1)->Arg(64)->Arg(8192);

} // namespace

BENCHMARK_MAIN();
