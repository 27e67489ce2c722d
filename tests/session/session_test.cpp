// The module session's operations when the link fails under them: over SPI against a port server
// that breaks on cue, over serial against a scripted line. Each operation gives the fault it met,
// by kind and link, once; the next operation goes out whole; and an operation asked for while
// another one runs is refused without a byte going out.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <functional>

#include "lpt/socket_port.h"
#include "session/serial_session.h"
#include "session/spi_session.h"
#include "support/fake_clock.h"
#include "support/fault_port_server.h"
#include "support/recording_port.h"
#include "support/scripted_serial_control.h"
#include "support/serial_session_rig.h"

namespace {

using protocol::LinkFault;
using ::testing::HasSubstr;
using testing_support::FaultPortServer;
using testing_support::PortFault;
using Kind = LinkFault::Kind;

// Every operation, reduced to how it ended.
template <class Session>
using Operation = std::function<protocol::Result<void>(Session&, frames::FrameStore&)>;

template <class T>
protocol::Result<void> ended(const protocol::Result<T>& result) {
    if (!result) {
        return result.fault();
    }
    return {};
}

template <class Session>
struct NamedOperation {
    const char* name;
    Operation<Session> run;
};

const std::vector<NamedOperation<session::ModuleSession>> kReadBacks = {
    {"compression", [](auto& s, auto&) { return ended(s.readCompression()); }},
    {"levels", [](auto& s, auto&) { return ended(s.readLevels()); }},
    {"frame size", [](auto& s, auto&) { return ended(s.readFrameSize()); }},
    {"SPI mode", [](auto& s, auto&) { return ended(s.readSpiMode()); }},
};

// ---- SPI: a port server that breaks right after the request byte has gone out.

constexpr std::size_t kRequestWrites = 17;  // one chip-select frame out
constexpr std::chrono::milliseconds kReplyLimit{100};

struct SpiFaultCase {
    PortFault fault;
    Kind kind;
    const char* reason;
};

TEST(SessionOverSpi, EachReadMeetsTheFaultOnceAndTheNextOperationGoesOutWhole) {
    const SpiFaultCase faults[] = {
        {PortFault::Close, Kind::Lost, "closed the connection"},
        {PortFault::Silent, Kind::Lost, "no answer to a port read within 100 ms"},
        {PortFault::ExtraByte, Kind::StrayByte, "nobody asked for"},
    };
    auto operations = kReadBacks;
    operations.push_back({"frame", [](auto& s, auto& store) {
                              return ended(
                                  static_cast<session::SpiSession&>(s).readFrame(store, {}));
                          }});
    QTemporaryDir dir;
    const std::string path = dir.filePath("port.sock").toStdString();
    for (const SpiFaultCase& c : faults) {
        for (const auto& operation : operations) {
            FaultPortServer server(path, FaultPortServer::answers({}), {c.fault, kRequestWrites});
            lpt::SocketPort port(path, kReplyLimit);
            lpt::SpiLink link(port);
            testing_support::FakeClock clock;
            session::SpiSession spi(link, clock);
            frames::FrameStore store;
            ASSERT_TRUE(spi.start().ok());
            const auto result = operation.run(spi, store);
            ASSERT_FALSE(result.ok()) << operation.name;
            EXPECT_EQ(result.fault().kind, c.kind) << operation.name;
            EXPECT_EQ(result.fault().link, "LPT1");
            EXPECT_THAT(result.fault().reason, HasSubstr(c.reason)) << operation.name;
            EXPECT_EQ(store.count(), 0u) << "no byte of a broken link is stored";

            // The simulator comes back: the next operation asks the port back and is whole.
            server.restart();
            const auto next = spi.readSpiMode();
            EXPECT_TRUE(next.ok()) << operation.name << ": " << next.fault().systemText();
        }
    }
}

TEST(SessionOverSpi, AnOperationAskedForWhileAnotherRunsIsRefusedAndSendsNothing) {
    auto operations = kReadBacks;
    const std::vector<NamedOperation<session::SpiSession>> more = {
        {"capture", [](auto& s, auto&) { return s.capture(); }},
        {"level", [](auto& s, auto&) { return s.writeLevel(session::Level::Red, 3); }},
        {"compression",
         [](auto& s, auto&) {
             return s.writeCompression({1, protocol::ColourMode::Colour});
         }},
        {"test mode", [](auto& s, auto&) { return s.writeTestMode(true); }},
        {"mode", [](auto& s, auto&) { return s.switchMode(1); }},
        {"reset", [](auto& s, auto&) { return s.reset(); }},
        {"frame", [](auto& s, auto& store) { return ended(s.readFrame(store, {})); }},
    };
    testing_support::RecordingPort port;
    lpt::SpiLink link(port);
    testing_support::FakeClock clock;
    session::SpiSession spi(link, clock);
    frames::FrameStore store;
    ASSERT_TRUE(spi.start().ok());
    std::size_t refusedAsBusy = 0;
    const auto tryAll = [&](const auto& list) {
        for (const auto& operation : list) {
            const auto result = operation.run(spi, store);
            EXPECT_EQ(result.ok() ? Kind::Lost : result.fault().kind, Kind::Busy) << operation.name;
            refusedAsBusy += !result.ok() && result.fault().kind == Kind::Busy;
        }
    };
    // The frame size waits a second between width and height: the other operations come then.
    clock.duringWait = [&] {
        const std::size_t accessesBefore = port.accesses().size();
        EXPECT_EQ(spi.busyWith(), session::Exchange::Setting);
        tryAll(operations);
        tryAll(more);
        EXPECT_EQ(port.accesses().size(), accessesBefore) << "a refused operation sent something";
    };
    ASSERT_TRUE(spi.writeFrameSize({176, 144}).ok());
    EXPECT_EQ(refusedAsBusy, operations.size() + more.size());
    EXPECT_EQ(spi.busyWith(), std::nullopt);
}

TEST(SessionOverSpi, TheStartStateGoesToTheChosenPortAlone) {
    for (const int listIndex : {0, 1}) {
        testing_support::RecordingPort port;
        lpt::SpiLink link(port);
        testing_support::FakeClock clock;
        session::SpiSession spi(link, clock);
        ASSERT_TRUE(spi.start(listIndex).ok());
        ASSERT_TRUE(spi.capture().ok());
        const std::uint16_t base = listIndex == 0 ? lpt::kLpt1Base : lpt::kLpt2Base;
        ASSERT_EQ(port.accesses().size(), 18u);  // the idle pattern, then the command's frame
        EXPECT_EQ(port.accesses().front().value, lpt::kModePatterns[0].idle);
        for (const auto& access : port.accesses()) {
            EXPECT_EQ(access.address, base) << listIndex;
        }
    }
}

// ---- Serial: a scripted line that stays silent, is closed, or fails under the query.

struct SerialFaultCase {
    const char* name;
    std::function<void(testing_support::ScriptedSerialControl&)> breakLine;
    Kind kind;
    const char* text;  // LinkFault::systemText()
};

TEST(SessionOverSerial, EachQueryMeetsTheFaultOnce) {
    const SerialFaultCase faults[] = {
        {"silent", [](auto& line) { line.module = {}; }, Kind::Silent,
         "COM2 (/dev/scripted2): no reply within the time limit"},
        {"closed", [](auto& line) { line.close(); }, Kind::NoPort,
         "COM2 (/dev/scripted2) is not open"},
        {"fails",
         [](auto& line) {
             line.module = [&line](const std::vector<std::uint8_t>&) {
                 line.pendingFault = serial::LineFault{false, "Input/output error"};
                 line.close();
             };
         },
         Kind::Lost, "COM2 (/dev/scripted2): Input/output error"},
    };
    auto operations = kReadBacks;
    operations.push_back({"speed", [](auto& s, auto&) {
                              return ended(static_cast<session::SerialSession&>(s).readSpeed());
                          }});
    for (const SerialFaultCase& c : faults) {
        for (const auto& operation : operations) {
            testing_support::FakeClock clock;
            testing_support::ScriptedSerialControl line(&clock);
            serial::SerialLink link(line, clock);
            frames::FrameStore store;
            session::SerialSession serial(line, link, store, clock);
            ASSERT_FALSE(serial.start().has_value());
            c.breakLine(line);
            const auto result = operation.run(serial, store);
            ASSERT_FALSE(result.ok()) << c.name << ", " << operation.name;
            EXPECT_EQ(result.fault().kind, c.kind) << c.name << ", " << operation.name;
            EXPECT_EQ(result.fault().systemText(), c.text) << c.name << ", " << operation.name;
            // Told once: the operation after it meets only its own fault, or none.
            line.module = {};
            line.pendingFault.reset();
            const auto next = serial.capture();
            EXPECT_EQ(next.ok(), line.isOpen()) << c.name << ", " << operation.name;
        }
    }
}

// ---- Serial: bytes nobody asked for around a query or a frame are never taken for the module's.

using std::chrono::milliseconds;
using testing_support::SerialSessionRig;
const SerialSessionRig::Bytes kFrame = {0xFF, 0xD8, 0x11, 0x22, 0xFF, 0xD9};

TEST(SessionOverSerial, BytesNobodyAskedForAreNeverTakenForAReplyOrAFrame) {
    struct Case {
        const char* name;
        std::function<void(SerialSessionRig&)> arrange;
        bool settingsRead;  // the module's values, or no values at all
    };
    const Case cases[] = {
        {"a stray byte just before each reply", [](auto& r) { r.beforeReply = {0x0B}; }, false},
        {"a byte waiting when the port opened", [](auto& r) { r.line.arrive({0x0B}); }, true},
        {"the tail of a frame still arriving",
         [](auto& r) {
             r.noise = [&r, next = milliseconds{0}](milliseconds now) mutable {
                 if (now < milliseconds(600) && now >= next) {
                     r.line.arrive({0xE7});
                     next = now + milliseconds(20);
                 }
             };
         },
         true},
        {"a reply's last byte 1.5 s late",
         [](auto& r) {
             r.shapeReply = [&r](SerialSessionRig::Bytes reply) {
                 r.noise = [&r, last = reply.back(),
                            at = r.elapsed() + milliseconds(1500)](milliseconds now) mutable {
                     if (at.count() >= 0 && now >= at) {
                         r.line.arrive({last});
                         at = milliseconds{-1};
                     }
                 };
                 r.shapeReply = {};
                 reply.pop_back();
                 return reply;
             };
         },
         false},
    };
    for (const Case& c : cases) {
        SerialSessionRig r(kFrame);
        c.arrange(r);
        const auto settings = r.serial.readSettings();
        EXPECT_EQ(settings.ok(), c.settingsRead) << c.name;
        if (settings) {
            EXPECT_TRUE(SerialSessionRig::holdsPowerUpValues(*settings)) << c.name;
        }
        // Not a byte of it is taken for a frame, now or at the next frame.
        r.noise = {};
        r.serial.receive();
        EXPECT_EQ(r.received.count(), 0u) << c.name;
        frames::FrameStore frame;
        ASSERT_TRUE(r.serial.captureAndRead(frame, {}).ok()) << c.name;
        EXPECT_TRUE(std::ranges::equal(frame.frame(), kFrame)) << c.name;
    }
}

TEST(SessionOverSerial, AFrameStartsWithTheModulesFirstByte) {
    SerialSessionRig r(kFrame);
    // Bytes come unasked while the module compresses, between the capture and the frame read.
    r.noise = [&r, sent = false](milliseconds) mutable {
        const auto out = r.line.outputs();
        if (!sent && !out.empty() && out.back() == SerialSessionRig::Bytes{64}) {
            r.line.arrive({0x42, 0x43});
            sent = true;
        }
    };
    frames::FrameStore frame;
    const auto fetched = r.serial.captureAndRead(frame, {});
    ASSERT_TRUE(fetched.ok()) << fetched.fault().systemText();
    EXPECT_TRUE(std::ranges::equal(frame.frame(), kFrame));
}

}  // namespace
