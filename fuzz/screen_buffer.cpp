// The terminal's screen buffer under random operation programs: writes, page and buffer clears,
// view scrolling, window and font sizes, marking with the mouse, resizes. After every step the
// cursor, the view and the mark lie inside the buffer, and a finished mark copies the text that
// was written into its cells: writes into marked cells change it, moving text (a line feed at
// the buffer's end, a page clear near it) must move the mark with it, clip it or drop it, and
// clearing the buffer must drop it.
#include "Oracle.h"

#include "terminal/FakeTerminalView.h"
#include "terminal/TBuffer.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

using pellwick::CellPos;
using pellwick::ScrollBar;
using pellwick::TBuffer;
using pellwick::fuzz::Expect;
using pellwick::fuzz::Readable;

namespace {

int Linear(const CellPos& p, int columns) {
    return p.row * columns + p.column;
}

class Program {
public:
    Program(FuzzedDataProvider& input, int columns, int rows, int page)
        : input_(input), buffer_(view_, columns, rows, page) {}

    void Run() {
        buffer_.SetCellSize(8, 16);
        buffer_.SetClientSize(8 * 20, 16 * 8);
        while (input_.remaining_bytes() > 0) {
            Step();
            CheckInside();
            CheckMark();
        }
    }

private:
    void Step() {
        const bool mark = buffer_.MarkMade();
        const int op = input_.ConsumeIntegralInRange(0, 21);
        if (trace_) {
            std::fprintf(stderr, "op %d: cursor %d,%d view %d,%d mark %d,%d-%d,%d made %d\n", op,
                         buffer_.CursorColumn(), buffer_.CursorRow(), buffer_.ViewLeft(),
                         buffer_.ViewTop(), buffer_.MarkStart().column, buffer_.MarkStart().row,
                         buffer_.MarkEnd().column, buffer_.MarkEnd().row, buffer_.MarkMade());
        }
        switch (op) {
        case 0:
        case 1:
        case 2: {
            const auto bytes =
                input_.ConsumeBytes<std::uint8_t>(input_.ConsumeIntegralInRange(1, 40));
            if (mark) {
                for (const auto b : bytes) {
                    Write(b);
                }
            } else {
                buffer_.ProcessBytes(bytes);
            }
            break;
        }
        case 3:
            Write(input_.PickValueInArray<std::uint8_t>({8, 10, 13, 'x', 0}));
            break;
        case 4:
            buffer_.ClearPage();
            BlankPageInText();
            break;
        case 5:
            buffer_.ClearAll();
            // Nothing that was written is left: a mark over text must go.
            mustDrop_ = mark && text_.find_first_not_of(' ') != std::string::npos;
            text_.assign(text_.size(), ' ');
            break;
        case 6:
            buffer_.ScrollView(input_.ConsumeIntegralInRange(-3, 3),
                               input_.ConsumeIntegralInRange(-30, 30));
            break;
        case 7: {
            const auto bar = input_.ConsumeBool() ? ScrollBar::Vertical : ScrollBar::Horizontal;
            input_.ConsumeBool() ? buffer_.ScrollToStart(bar) : buffer_.ScrollToEnd(bar);
            break;
        }
        case 8:
            buffer_.SetScrollback(input_.ConsumeBool());
            break;
        case 9:
            input_.ConsumeBool() ? buffer_.SaveCursorAndView() : buffer_.RestoreCursorAndView();
            break;
        case 10:
            buffer_.SetViewTop(input_.ConsumeIntegralInRange(-5, 300));
            buffer_.SetViewLeft(input_.ConsumeIntegralInRange(-5, 150));
            break;
        case 11:
            buffer_.SetCellSize(input_.ConsumeIntegralInRange(1, 20),
                                input_.ConsumeIntegralInRange(1, 30));
            break;
        case 12:
            buffer_.SetClientSize(input_.ConsumeIntegralInRange(0, 1200),
                                  input_.ConsumeIntegralInRange(0, 900));
            break;
        case 13:
            buffer_.BeginMark(X(), Y(), input_.ConsumeBool());
            break;
        case 14:
            buffer_.MarkMove(X(), Y());
            break;
        case 15:
            buffer_.ExtendMark(X(), Y());
            break;
        case 16:
            buffer_.EndMark();
            break;
        case 17:
            view_.pointer = {X(), Y()};
            buffer_.MarkTimerTick();
            break;
        case 18:
            buffer_.ClearMark();
            break;
        case 19:
            buffer_.SetCurrentAttribute(input_.ConsumeIntegral<std::uint8_t>());
            buffer_.SetDefaultColors(input_.ConsumeIntegral<std::uint8_t>(),
                                     input_.ConsumeIntegral<std::uint8_t>());
            buffer_.BlinkPass();
            break;
        case 20:
            buffer_.ResizeBuffer(input_.ConsumeIntegralInRange(0, 60),
                                 input_.ConsumeIntegralInRange(0, 140),
                                 input_.ConsumeIntegralInRange(0, 12));
            break;
        default:
            buffer_.Refresh();
            break;
        }
        // A mark made or moved by the mouse covers what its cells hold now.
        const bool markOperation = (op >= 13 && op <= 18) || op == 20;
        if (buffer_.MarkMade() && (!mark || markOperation)) {
            TakeMarkedText();
        }
    }

    int X() { return input_.ConsumeIntegralInRange(-40, buffer_.ClientWidth() + 40); }
    int Y() { return input_.ConsumeIntegralInRange(-40, buffer_.ClientHeight() + 40); }

    // One byte through the buffer, keeping the marked text up to date for a write into a
    // marked cell (a cell, or a blank left behind by a backspace).
    void Write(std::uint8_t b) {
        const CellPos cursor{buffer_.CursorColumn(), buffer_.CursorRow()};
        const bool mark = buffer_.MarkMade();
        buffer_.ProcessByte(b);
        if (!mark) {
            return;
        }
        CellPos cell = cursor;
        const bool stored = b != 0 && b != 8 && b != 10 && b != 13;
        const bool erased = b == 8 && cell.column > 0;
        if (erased) {
            --cell.column;
            b = ' ';
        }
        const int offset = Linear(cell, buffer_.Columns()) - Linear(start_, buffer_.Columns());
        if ((stored || erased) && offset >= 0 && offset < static_cast<int>(text_.size())) {
            text_[static_cast<std::size_t>(offset)] = static_cast<char>(b);
        }
        // The byte may have moved the text (a line feed at the buffer's end): follow the mark.
        CheckMark();
    }

    // A page clear blanks the new page: marked cells that now lie in it hold blanks.
    void BlankPageInText() {
        if (!buffer_.MarkMade()) {
            return;
        }
        const int first = Linear({0, buffer_.ViewTop()}, buffer_.Columns());
        const int last = first + buffer_.PageHeight() * buffer_.Columns();
        const int start = Linear(buffer_.MarkStart(), buffer_.Columns());
        const int end = Linear(buffer_.MarkEnd(), buffer_.Columns());
        const int kept = end - start;
        const auto lost = static_cast<int>(text_.size()) - kept; // clipped off the top
        for (int at = std::max(start, first); at < std::min(end, last); ++at) {
            const int k = at - start + lost;
            if (k >= 0 && k < static_cast<int>(text_.size())) {
                text_[static_cast<std::size_t>(k)] = ' ';
            }
        }
    }

    void TakeMarkedText() {
        start_ = buffer_.MarkStart();
        end_ = buffer_.MarkEnd();
        mustDrop_ = false;
        const auto chars = buffer_.Characters();
        text_.assign(chars.begin() + Linear(start_, buffer_.Columns()),
                     chars.begin() + Linear(end_, buffer_.Columns()));
    }

    // The clipboard text of the cells from start to end holding `cells`: each row loses its
    // trailing blanks and ends in CR LF.
    std::string Clipboard(const CellPos& start, const CellPos& end,
                          const std::string& cells) const {
        std::string out;
        std::size_t k = 0;
        for (int row = start.row; row <= end.row; ++row) {
            const int from = row == start.row ? start.column : 0;
            const int to = row == end.row ? end.column : buffer_.Columns();
            std::string text;
            for (int column = from; column < to && k < cells.size(); ++column) {
                text.push_back(cells[k++]);
            }
            text.erase(text.find_last_not_of(' ') + 1);
            out += text;
            out += "\r\n";
        }
        return out;
    }

    void CheckInside() const {
        const int rows = buffer_.Rows();
        const int columns = buffer_.Columns();
        const auto inside = [&](const CellPos& p) {
            return p.column >= 0 && p.column < columns && p.row >= 0 && p.row < rows;
        };
        Expect(inside({buffer_.CursorColumn(), buffer_.CursorRow()}),
               "cursor outside the buffer: " + std::to_string(buffer_.CursorColumn()) + "," +
                   std::to_string(buffer_.CursorRow()));
        Expect(inside({buffer_.ViewLeft(), buffer_.ViewTop()}),
               "view outside the buffer: " + std::to_string(buffer_.ViewLeft()) + "," +
                   std::to_string(buffer_.ViewTop()));
        Expect(inside(buffer_.MarkStart()) && inside(buffer_.MarkEnd()) &&
                   inside(buffer_.MarkAnchor()),
               "mark outside the buffer");
        Expect(Linear(buffer_.MarkStart(), columns) <= Linear(buffer_.MarkEnd(), columns),
               "mark ends before it starts");
    }

    void CheckMark() {
        view_.clipboard.reset();
        const bool copied = buffer_.CopyMark();
        Expect(copied == buffer_.MarkMade(), "CopyMark disagrees with the mark state");
        if (!copied) {
            return;
        }
        Expect(!mustDrop_, "a mark over text survived the clearing of the buffer");
        const auto start = Linear(buffer_.MarkStart(), buffer_.Columns());
        const auto end = Linear(buffer_.MarkEnd(), buffer_.Columns());
        const auto kept = static_cast<std::size_t>(end - start);
        Expect(kept <= text_.size(), "the mark grew without being moved");
        // A mark clipped at the buffer's top keeps the end of its text.
        const std::string expected =
            Clipboard(buffer_.MarkStart(), buffer_.MarkEnd(), text_.substr(text_.size() - kept));
        Expect(view_.clipboard == expected, "CopyMark gives " +
                                                Readable(view_.clipboard.value_or("")) +
                                                ", the marked cells hold " + Readable(expected));
        if (kept < text_.size()) {
            text_.erase(0, text_.size() - kept);
        }
        start_ = buffer_.MarkStart();
        end_ = buffer_.MarkEnd();
    }

    FuzzedDataProvider& input_;
    pellwick::test::FakeTerminalView view_;
    TBuffer buffer_;
    CellPos start_;
    CellPos end_;
    std::string text_; // what the marked cells must hold
    bool mustDrop_ = false;
    // PELLWICK_FUZZ_TRACE=1 prints every step, for reading a found input.
    const bool trace_ = std::getenv("PELLWICK_FUZZ_TRACE") != nullptr;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    const int columns = input.ConsumeIntegralInRange(1, 40);
    const int page = input.ConsumeIntegralInRange(1, 10);
    const int rows = page + input.ConsumeIntegralInRange(0, 20);
    Program(input, columns, rows, page).Run();
    return 0;
}
