// The parallel port's accesses over an FTDI adapter's MPSSE engine, against the fake adapter:
// the link's exact access sequence reaches the port behind it in every mode, with the same
// answers; a downloaded byte is one USB round trip; an unplug at any command of a byte ends the
// download with the bytes read whole before it; a sync that is not echoed fails the start.
#include <gtest/gtest.h>

#include "lpt/frame_download.h"
#include "lpt/ftdi_port.h"
#include "lpt/spi_link.h"
#include "protocol/wire.h"
#include "support/fake_mpsse_adapter.h"
#include "support/recording_port.h"

namespace {

// A frame's status reads: MISO from a running count, the ready flag after `frameBytes` bytes.
void answerAFrame(testing_support::RecordingPort& port, std::size_t frameBytes) {
    port.setResponder([frameBytes](std::uint16_t, std::size_t read) {
        const std::size_t byte = read / 8;
        const bool bit = ((byte * 37 + 11) >> (7 - read % 8)) & 1;
        return static_cast<std::uint8_t>((bit ? lpt::kMisoBit : 0) |
                                         (byte + 1 >= frameBytes ? lpt::kReadyBit : 0));
    });
}

// The same operations on a port of their own: a register write, a query, a frame of 40 bytes.
std::vector<std::uint8_t> operate(protocol::PortIo& port, int mode) {
    lpt::SpiLink link(port);
    EXPECT_TRUE(link.startPortAccess());
    link.enterStartState();
    link.switchMode(mode);
    protocol::writeRegister(link, protocol::Register::Brightness, 40);
    protocol::queryRegister(link, protocol::Register::FrameWidth);
    protocol::sendCommand(link, protocol::command::kFrameRead);
    frames::FrameStore store;
    lpt::downloadFrame(link, store);
    return {store.frame().begin(), store.frame().end()};
}

}  // namespace

TEST(FtdiPort, CarriesTheParallelPortsAccessesInEveryModeAByteARoundTrip) {
    for (int mode = 0; mode < 4; ++mode) {
        SCOPED_TRACE(mode);
        testing_support::RecordingPort direct;
        testing_support::RecordingPort behindAdapter;
        for (auto* port : {&direct, &behindAdapter}) {
            answerAFrame(*port, 40);
        }
        testing_support::FakeMpsseAdapter adapter(behindAdapter);
        lpt::FtdiPort ftdi(adapter);
        EXPECT_EQ(operate(ftdi, mode), operate(direct, mode));
        // The adapter's own first pins (chip select high) come before the link's first write.
        auto accesses = behindAdapter.accesses();
        ASSERT_FALSE(accesses.empty());
        accesses.erase(accesses.begin());
        EXPECT_EQ(accesses, direct.accesses());
        const std::uint64_t tripsBefore = ftdi.roundTrips();
        frames::FrameStore store;
        lpt::SpiLink link(ftdi);
        protocol::sendCommand(link, protocol::command::kFrameRead);
        answerAFrame(behindAdapter, behindAdapter.readCount() / 8 + 40);  // 40 bytes more
        EXPECT_EQ(lpt::downloadFrame(link, store).bytesStored, 40u);
        EXPECT_EQ(ftdi.roundTrips() - tripsBefore, 40u);
    }
}

TEST(FtdiPort, AnUnplugAtAnyCommandOfAByteKeepsTheBytesReadWholeBeforeIt) {
    // A byte held over the adapter: 17 pin settings, 8 reads and "send immediate".
    constexpr std::size_t kByteCommands = 17 + 8 + 1;
    for (std::size_t at = 1; at <= kByteCommands; ++at) {  // after the at-th command of byte 6
        SCOPED_TRACE(at);
        testing_support::RecordingPort behindAdapter;
        answerAFrame(behindAdapter, 1000);
        testing_support::FakeMpsseAdapter adapter(behindAdapter);
        lpt::FtdiPort ftdi(adapter);
        lpt::SpiLink link(ftdi);
        ASSERT_TRUE(link.startPortAccess());
        link.enterStartState();
        protocol::sendCommand(link, protocol::command::kFrameRead);
        adapter.unplugAfter = adapter.commands + 5 * kByteCommands + at;
        frames::FrameStore store;
        const lpt::DownloadResult result = lpt::downloadFrame(link, store);
        EXPECT_TRUE(result.linkFault);
        EXPECT_EQ(result.bytesStored, 5u);
        EXPECT_NE(ftdi.fault().find("LIBUSB_ERROR_NO_DEVICE"), std::string::npos) << ftdi.fault();
    }
}

// A sync that is not echoed, or answers that come short, fail the start, each with its reason.
TEST(FtdiPort, AStartWhoseSyncIsNotEchoedOrComesShortFails) {
    for (const bool wrongEcho : {true, false}) {
        testing_support::RecordingPort behindAdapter;
        testing_support::FakeMpsseAdapter adapter(behindAdapter);
        (wrongEcho ? adapter.echoSyncWrongly : adapter.shortRead) = true;
        lpt::FtdiPort ftdi(adapter);
        EXPECT_FALSE(ftdi.start());
        EXPECT_NE(ftdi.fault().find(wrongEcho ? "did not echo its sync (FA 00, not FA AA)"
                                              : "FTDI adapter: short read"),
                  std::string::npos)
            << ftdi.fault();
    }
}
