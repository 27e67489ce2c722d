#include <gtest/gtest.h>

#include "lpt/frame_download.h"
#include "support/recording_port.h"

using testing_support::RecordingPort;

namespace {

constexpr int kReadsPerByte = 8;
constexpr std::uint8_t kReady = 0x80;
constexpr std::uint8_t kMiso = 0x20;

// Counts bytes; can stop the download after a given count.
struct CountingProgress {
    int calls = 0;
    std::uint32_t last = 0;
    std::uint32_t stopAt = 0;
    lpt::DownloadProgress callbacks() {
        return {[this](std::uint32_t count) {
                    ++calls;
                    last = count;
                },
                [this] { return last == stopAt; }};
    }
};

// A module that sends byte k of the frame as (k + 1) & 0xFF and raises the ready flag on the
// read with index `readyAtRead` (0-based over the whole download).
struct ScriptedModule {
    explicit ScriptedModule(RecordingPort& port, std::size_t readyAtRead) {
        port.setResponder([readyAtRead](std::uint16_t, std::size_t read) -> std::uint8_t {
            const std::size_t byteIndex = read / kReadsPerByte;
            const int bit = 7 - static_cast<int>(read % kReadsPerByte);
            const std::uint8_t value = static_cast<std::uint8_t>(byteIndex + 1);
            std::uint8_t status = ((value >> bit) & 1) ? kMiso : 0;
            if (read >= readyAtRead) {
                status |= kReady;
            }
            return status;
        });
    }
};

class Download : public ::testing::Test {
  protected:
    RecordingPort port;
    lpt::SpiLink link{port};
    frames::FrameStore store;
    CountingProgress progress;
};

}  // namespace

TEST_F(Download, FlagAtTheEighthReadOfTheFirstByteStoresOneByte) {
    ScriptedModule module(port, 7);
    const auto result = lpt::downloadFrame(link, store, progress.callbacks());
    EXPECT_EQ(result.bytesStored, 1u);
    EXPECT_TRUE(result.stoppedByReadyFlag);
    EXPECT_EQ(store.count(), 1u);
    EXPECT_EQ(store.frame()[0], 1);
    EXPECT_EQ(port.readCount(), 8u);
    EXPECT_EQ(port.writtenValues().size(), 17u);
}

TEST_F(Download, OnlyTheFlagOfTheEighthReadCounts) {
    // Ready shows from the third read of the first byte on: the first byte still completes, and
    // it is the last one.
    ScriptedModule module(port, 2);
    lpt::downloadFrame(link, store, progress.callbacks());
    EXPECT_EQ(store.count(), 1u);

    // The flag up on reads 0..6 of a byte but down on its eighth does not stop the download.
    RecordingPort port2;
    lpt::SpiLink link2(port2);
    frames::FrameStore store2;
    port2.setResponder([](std::uint16_t, std::size_t read) -> std::uint8_t {
        if (read < 16) {
            return read % kReadsPerByte == 7 ? 0 : kReady;
        }
        return kReady;
    });
    lpt::downloadFrame(link2, store2, progress.callbacks());
    EXPECT_EQ(store2.count(), 3u);
}

TEST_F(Download, AppendsAfterTheBytesAlreadyHeld) {
    std::vector<std::uint8_t> held(100, 0xEE);
    store.storeAll(held);
    ScriptedModule module(port, 49 * kReadsPerByte + 7);  // the 50th byte's eighth read
    lpt::downloadFrame(link, store, progress.callbacks());
    EXPECT_EQ(store.count(), 150u);
    EXPECT_EQ(progress.last, 150u);
    EXPECT_EQ(progress.calls, 50);
    EXPECT_EQ(store.frame()[99], 0xEE);
    EXPECT_EQ(store.frame()[100], 1);
    EXPECT_EQ(store.frame()[149], 50);
}

TEST_F(Download, StopsAtTheLimitWithoutAFlag) {
    ScriptedModule module(port, SIZE_MAX);
    const auto result = lpt::downloadFrame(link, store, progress.callbacks());
    EXPECT_EQ(store.count(), lpt::kDownloadLimit);
    EXPECT_FALSE(result.stoppedByReadyFlag);
    EXPECT_EQ(port.readCount(), 65000u * 8);
    EXPECT_EQ(store.frame()[64999], static_cast<std::uint8_t>(65000));
}

TEST_F(Download, NothingIsReadAtOrPastTheLimit) {
    std::vector<std::uint8_t> held(65000, 1);
    store.storeAll(held);
    lpt::downloadFrame(link, store, progress.callbacks());
    store.storeAll(held);  // a full buffer too
    lpt::downloadFrame(link, store, progress.callbacks());
    EXPECT_TRUE(port.accesses().empty());
    EXPECT_EQ(progress.calls, 0);
}

TEST_F(Download, AnEarlierReadyFlagDoesNotEndItAndACancelStopsAtOnce) {
    port.setResponder([](std::uint16_t, std::size_t read) -> std::uint8_t {
        return read == 0 ? kReady : 0;  // the status poll before the download shows ready
    });
    ASSERT_EQ(link.pollStatus(), kReady);
    progress.stopAt = 10;
    const auto result = lpt::downloadFrame(link, store, progress.callbacks());
    EXPECT_TRUE(result.cancelled);
    EXPECT_EQ(store.count(), 10u);
    EXPECT_EQ(port.readCount(), 1u + 80u);
}

// Confirmed every 1024 bytes: a confirmation that finds a byte out of turn takes back every byte
// since the one before, and the frame ends there; at the frame's last byte (3000) or inside it.
TEST(DownloadConfirmed, AnswersFoundOutOfTurnTakeBackEveryByteSinceTheLastConfirmation) {
    const std::string stray = "port socket s: the simulator sent 1 byte(s) nobody asked for";
    for (const auto& [doubtAt, confirms, kept] : {std::tuple{2, 3, 2048u}, {1, 2, 1024u}}) {
        RecordingPort port;
        lpt::SpiLink link{port};
        frames::FrameStore store;
        CountingProgress progress;
        ScriptedModule module(port, 3000 * kReadsPerByte - 1);
        port.doubtAtConfirm(doubtAt, stray);
        const auto result = lpt::downloadFrame(link, store, progress.callbacks());
        EXPECT_EQ(port.confirmCalls(), confirms);
        EXPECT_TRUE(result.linkFault);
        EXPECT_FALSE(result.stoppedByReadyFlag);
        EXPECT_EQ(result.bytesStored, kept);
        EXPECT_EQ(store.count(), kept);
        EXPECT_EQ(store.frame()[kept - 1], static_cast<std::uint8_t>(kept));
        EXPECT_EQ(store.wholeBuffer()[kept], 0);
        EXPECT_EQ(link.takeFault()->systemText(), "LPT1: " + stray);
    }
}
