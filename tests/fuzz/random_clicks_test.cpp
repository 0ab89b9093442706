// Random operation of the console against the simulated board: clicks on the motion buttons,
// ticks, and input bytes that change between ticks, from a fixed seed.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <utility>

#include "console/form_tolmar.h"
#include "tests/support/fake_serial_control.h"
#include "tests/support/pty_board.h"

namespace varnel::test {
namespace {

using namespace std::chrono_literals;

constexpr std::array<std::pair<int16_t, int16_t>, 9> kPairs{
    {{0, 0}, {0, 2}, {0, 34}, {1, 0}, {1, 2}, {1, 34}, {17, 0}, {17, 2}, {17, 34}}};
constexpr std::array<int, 9> kCommands{0, 1, 2, 3, 17, 19, 34, 35, 51};

// Reads the board's line trace as a sequence of whole handshakes: one probe FF F0 first, then
// commands AA F0 x F0 with x one of the nine values, and inputs CC b b F0. The last handshake
// may still lack its last answer, which the board records just after sending it.
class LineReader {
  public:
    // Reads what has come since the last call; false, with the reason, at a malformed byte.
    bool readMore(const Line& line, std::string& why) {
        while (pos_ < line.size()) {
            const size_t left = line.size() - pos_;
            const auto at = [&](size_t i) { return line[pos_ + i]; };
            const auto fail = [&](const std::string& what) {
                std::ostringstream text;
                text << what << " at line byte " << pos_ << ":";
                for (size_t i = pos_; i < std::min(line.size(), pos_ + 8); ++i)
                    text << (line[i].fromBoard ? " <" : " >") << hex(std::string(1, line[i].value));
                why = text.str();
                return false;
            };
            if (at(0).fromBoard) return fail("answer without a request");
            size_t length = 0;
            switch (at(0).value) {
                case 0xFF:
                    if (handshakes_ != 0) return fail("probe after start-up");
                    if (left >= 2 && at(1) != fromBoard(0xF0)) return fail("bad probe answer");
                    length = 2;
                    break;
                case 0xAA:
                    if (left >= 2 && at(1) != fromBoard(0xF0)) return fail("bad header ack");
                    if (left >= 3 &&
                        (at(2).fromBoard || std::find(kCommands.begin(), kCommands.end(),
                                                      at(2).value) == kCommands.end()))
                        return fail("command not one of the nine");
                    if (left >= 4 && at(3) != fromBoard(0xF0)) return fail("bad command ack");
                    length = 4;
                    break;
                case 0xCC:
                    if (left >= 2 && !at(1).fromBoard) return fail("no input byte");
                    if (left >= 3 && at(2) != toBoard(at(1).value)) return fail("bad echo");
                    if (left >= 4 && at(3) != fromBoard(0xF0)) return fail("bad echo ack");
                    length = 4;
                    break;
                default:
                    return fail("not a request");
            }
            if (left < length) return true;  // the rest is still on its way
            pos_ += length;
            ++handshakes_;
        }
        return true;
    }
    size_t complete() const { return pos_; }

  private:
    size_t pos_ = 0;
    size_t handshakes_ = 0;
};

TEST(RandomClicks, TenThousandClicksAmongTicksAndChangingInputsKeepCodesAndLineSound) {
    PtyBoard board;
    std::ostringstream errors;
    FormTolmarOptions options;
    options.portPaths = [&board](int16_t port) -> std::string {
        return port == 1 ? board.path() : "/nonexistent/ttyVARNEL2";
    };
    options.programDir = QStringLiteral(VARNEL_ASSETS_DIR);
    options.endProgram = [] {};
    options.errors = &errors;
    FormTolmar form(options);
    form.Timer1->stop();
    form.Form_Load();
    ASSERT_EQ(form.link().PuertoActivo(), 1);

    std::mt19937 random(20240611);
    const auto chance = [&](int percent) {
        return std::uniform_int_distribution<int>(0, 99)(random) < percent;
    };
    LineReader reader;
    std::string why;
    size_t moves = 1;  // Form_Load's stop command
    int input = 0;
    for (int click = 0; click < 10000; ++click) {
        // Some ticks between clicks, with an input byte that may change before each.
        while (chance(50)) {
            if (chance(30)) {
                input = chance(50) ? std::uniform_int_distribution<int>(0, 15)(random)
                                   : std::uniform_int_distribution<int>(0, 255)(random);
                board.setInput(static_cast<unsigned char>(input));
            }
            form.Timer1_Timer();
            ++moves;
            ASSERT_EQ(form.link().Entradas(), input) << "tick before click " << click;
        }
        const int button = std::uniform_int_distribution<int>(1, 5)(random);
        switch (button) {
            case 1:
                form.Command1_Click();
                break;
            case 2:
                form.Command2_Click();
                break;
            case 3:
                form.Command3_Click();
                break;
            case 4:
                form.Command4_Click();
                break;
            default:
                form.Command5_Click();
                break;
        }
        ++moves;
        const auto pair = std::make_pair(form.torre().Giro, form.torre().Rampa);
        ASSERT_NE(std::find(kPairs.begin(), kPairs.end(), pair), kPairs.end())
            << "click " << click << " on Command" << button << ": (" << pair.first << ", "
            << pair.second << ")";
        // Every move was acknowledged, and the board holds what the console last sent.
        const std::vector<unsigned char> commands = board.commands();
        ASSERT_EQ(commands.size(), moves) << "click " << click;
        ASSERT_EQ(commands.back(), form.torre().Orden()) << "click " << click;
        ASSERT_TRUE(reader.readMore(board.line(), why)) << "click " << click << ": " << why;
    }
    // The last answer reaches the record too, and the trace ends on a whole handshake.
    const auto deadline = std::chrono::steady_clock::now() + 2s;
    for (;;) {
        const Line line = board.line();
        ASSERT_TRUE(reader.readMore(line, why)) << why;
        if (reader.complete() == line.size()) break;
        ASSERT_LT(std::chrono::steady_clock::now(), deadline) << "the line ends inside a handshake";
        std::this_thread::sleep_for(1ms);
    }
    EXPECT_TRUE(errors.str().empty()) << errors.str();
}

}  // namespace
}  // namespace varnel::test
