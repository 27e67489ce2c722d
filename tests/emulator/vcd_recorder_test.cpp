// The wire as a logic analyzer shows it: a VCD of the SPI link, written in each mode, decodes with
// sigrok-cli's SPI decoder (at the mode's CPOL and CPHA) into exactly the bytes the emulated module
// took and gave; one cut short by a link fault still reads up to the fault.
#include <gtest/gtest.h>

#include <unistd.h>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "emulator_test_support.h"
#include "lpt/frame_download.h"
#include "lpt/vcd_recorder.h"
#include "protocol/wire.h"
#include "support/fake_clock.h"
#include "support/recording_port.h"

namespace emulator {
namespace {

using protocol::Register;
using Bytes = std::vector<std::uint8_t>;

// One line's bytes, one annotation class at a time so the two lines stay apart ("spi-1: A5" per
// byte); nullopt when sigrok-cli failed.
std::optional<Bytes> decodeLine(const std::string& vcd, int mode, const char* annotation,
                                const std::string& input = "vcd") {
    const std::string command =
        "sigrok-cli -I " + input + " -i '" + vcd +
        "' -P spi:clk=sck:mosi=mosi:miso=miso:cs=cs:cpol=" + std::to_string(mode / 2) +
        ":cpha=" + std::to_string(mode % 2) + " -A spi=" + annotation + " 2>/dev/null";
    FILE* pipe = ::popen(command.c_str(), "r");
    Bytes bytes;
    char line[128];
    while (pipe != nullptr && std::fgets(line, sizeof line, pipe) != nullptr) {
        unsigned value = 0;
        if (std::sscanf(line, "spi-1: %x", &value) == 1) {
            bytes.push_back(static_cast<std::uint8_t>(value));
        }
    }
    if (pipe == nullptr || ::pclose(pipe) != 0) {
        return std::nullopt;
    }
    return bytes;
}

class VcdFile : public ::testing::Test {
  protected:
    void SetUp() override {
        if (std::system("command -v sigrok-cli > /dev/null 2>&1") != 0) {
            GTEST_SKIP() << "sigrok-cli is not installed (scripts/setup.sh installs it)";
        }
        path_ = (std::filesystem::temp_directory_path() /
                 ("vcd-test-" + std::to_string(::getpid()) + ".vcd"))
                    .string();
    }
    void TearDown() override {
        std::error_code ignored;
        std::filesystem::remove(path_, ignored);
    }

    std::unique_ptr<lpt::VcdRecorder> openVcd(lpt::VcdTime time = lpt::VcdTime::Accesses) {
        std::string error;
        auto vcd = lpt::VcdRecorder::open(path_, time, clock_, error);
        EXPECT_NE(vcd, nullptr) << error;
        return vcd;
    }

    std::string path_;
    testing_support::FakeClock clock_;
};

// A mode, and the input options of the README's line to read it with: a file of numbered accesses
// as it is, one in real time at a real port's pace (1 us an access) one sample per 100 ns.
using Wire = std::pair<int, std::string>;
class VcdOfTheWire : public VcdFile, public ::testing::WithParamInterface<Wire> {};

TEST_P(VcdOfTheWire, DecodesIntoTheBytesTheModuleTookAndGave) {
    const auto& [mode, input] = GetParam();
    const bool realTime = input != "vcd";
    clock_.stepPerLook = realTime ? std::chrono::microseconds(1) : protocol::Clock::Duration{};
    const Bytes frame = {0xFF, 0xD8, 0x00, 0x5A, static_cast<std::uint8_t>(0xA0 + mode), 0xD9};
    EmulatorLog log;
    testing::ManualClock moduleClock;
    CameraModule module(log, testing::optionsWith(moduleClock, frame));
    SpiSlave slave(module);
    EmulatedPort port(slave);
    lpt::SpiLink link(port);
    link.enterStartState();
    link.switchMode(mode);  // in mode 0: before the file, which holds one mode
    log.clear();
    auto vcd = openVcd(realTime ? lpt::VcdTime::Real : lpt::VcdTime::Accesses);
    link.setPortWatch(vcd.get());

    protocol::writeRegister(link, Register::Brightness, static_cast<std::uint16_t>(40 + mode));
    ASSERT_TRUE(protocol::queryRegister(link, Register::Brightness));
    ASSERT_TRUE(protocol::queryRegister(link, Register::FrameWidth));
    protocol::sendCommand(link, protocol::command::kCapture);
    moduleClock.advance(testing::kTestCaptureTime);
    protocol::sendCommand(link, protocol::command::kFrameRead);
    frames::FrameStore store;
    lpt::downloadFrame(link, store);
    link.endFrame(false);
    vcd->close();

    // MOSI carries every byte the module took, and 0 while it gives one; MISO carries what it
    // gave (a query's reply, the frame) in those bytes' places.
    Bytes mosi;
    Bytes sent;
    std::vector<std::size_t> sentAt;
    const auto give = [&](std::uint8_t b) {
        sentAt.push_back(mosi.size());
        sent.push_back(b);
        mosi.push_back(0);
    };
    for (const LogEntry& e : log.entries()) {
        for (std::size_t i = 0; i < e.bytes.size(); ++i) {
            if (e.kind == LogKind::ReadRequest && i > 0) {
                give(e.bytes[i]);
            } else {
                mosi.push_back(e.bytes[i]);
            }
        }
    }
    for (std::uint8_t b : frame) {
        give(b);
    }
    ASSERT_EQ(log.entriesOf(LogKind::FrameSent).size(), 1u);

    EXPECT_EQ(decodeLine(path_, mode, "mosi-data", input), mosi);
    const auto miso = decodeLine(path_, mode, "miso-data", input);
    ASSERT_TRUE(miso && miso->size() == mosi.size());
    Bytes given;
    for (std::size_t at : sentAt) {
        given.push_back((*miso)[at]);
    }
    EXPECT_EQ(given, sent);
}

INSTANTIATE_TEST_SUITE_P(EveryMode, VcdOfTheWire,
                         ::testing::Values(Wire{0, "vcd"}, Wire{1, "vcd"}, Wire{2, "vcd"},
                                           Wire{3, "vcd"},
                                           Wire{0, "vcd:downsample=100:compress=1000000"}));

TEST_F(VcdFile, AFileCutByALinkFaultReadsUpToTheFault) {
    testing_support::RecordingPort port;
    lpt::SpiLink link(port);
    link.enterStartState();
    auto vcd = openVcd();
    link.setPortWatch(vcd.get());
    protocol::writeRegister(link, Register::Red, 12);
    port.failFrom(5, "cable pulled");
    protocol::sendCommand(link, protocol::command::kCapture);
    link.takeFault();

    EXPECT_EQ(decodeLine(path_, 0, "mosi-data"), (Bytes{20, 12}));
    std::ifstream file(path_);
    std::string last;
    for (std::string line; std::getline(file, line);) {
        last = line;
    }
    EXPECT_NE(last.find("$comment link fault: LPT1"), std::string::npos) << last;
    EXPECT_NE(last.find("cable pulled"), std::string::npos) << last;
}

}  // namespace
}  // namespace emulator
