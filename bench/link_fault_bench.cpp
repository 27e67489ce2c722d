// Link faults against the SPI window. For each way a port server can fail (hang up, reset the
// connection, fall silent, answer late, send a byte nobody asked for) and for 25 places from the
// frame-read command to the frame's last bit, one frame download runs through the real window on
// the socket back-end (100 ms reply limit) against a server sending a known frame. Counted: the
// faults injected, the bytes made up (stored bytes that are not the frame's, and any stored past
// the point where the fault cut the link), the warnings of each faulted operation (exactly one),
// downloads that hang (not returned within 10 s), and whether the next operation, once the
// server is back, gets the whole frame without a word. Then a server that accepts no connection:
// the start must fail within its limit. Exits 1 when a byte is made up, a download hangs, or an
// operation did not end as described.
//
//   cmake --build build --target link_fault_bench
//   QT_QPA_PLATFORM=offscreen build/bench/link_fault_bench
#include <QApplication>
#include <QLabel>
#include <QTemporaryDir>
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "lpt/socket_port.h"
#include "support/fakes.h"
#include "support/fault_port_server.h"
#include "ui/spi_form.h"

namespace {

using testing_support::FaultPortServer;
using testing_support::PortFault;
using Bytes = std::vector<std::uint8_t>;
using Milliseconds = std::chrono::duration<double, std::milli>;

constexpr std::size_t kFrameBytes = 300;
constexpr std::size_t kPositions = 25;
constexpr std::chrono::milliseconds kReplyLimit{100};
constexpr std::chrono::seconds kHangLimit{10};
// A start against a server that accepts nothing may take its reply limit, not ten times that.
constexpr auto kStartLimit = kReplyLimit * 10;

// Port accesses, counted from the server's start: the window's load writes the idle pattern
// (access 0), the frame-read command is one frame of 17 writes, and every frame byte is 25
// accesses, 8 x (write, status read, write) and the idle write, its last read at offset 22.
constexpr std::size_t kLoadAccesses = 1;
constexpr std::size_t kCommandAccesses = 17;
constexpr std::size_t kByteAccesses = 25;
constexpr std::size_t kLastReadInByte = 22;
constexpr std::size_t kFirstByteAccess = kLoadAccesses + kCommandAccesses;
constexpr std::size_t kLastRead =
    kFirstByteAccess + kByteAccesses * (kFrameBytes - 1) + kLastReadInByte;

// Fault places spread from the command's first write to the frame's last status read: a fault
// after that last read falls on writes only, which no port can tell failed before the next read.
std::size_t faultPosition(std::size_t index) {
    return kLoadAccesses + (kLastRead - kLoadAccesses) * index / (kPositions - 1);
}

// How many frame bytes had every status read answered before a fault at access `after`: the
// most a download may keep. A stray byte goes out with access `after - 1`, spoiling its answer.
std::size_t bytesBeforeCut(PortFault fault, std::size_t after) {
    const std::size_t cut = fault == PortFault::ExtraByte ? after - 1 : after;
    const std::size_t firstLastRead = kFirstByteAccess + kLastReadInByte;
    if (cut <= firstLastRead) {
        return 0;
    }
    return std::min(kFrameBytes, (cut - firstLastRead + kByteAccesses - 1) / kByteAccesses);
}

Bytes knownFrame() {
    std::mt19937 generator(8086);
    Bytes frame(kFrameBytes);
    for (auto& b : frame) {
        b = static_cast<std::uint8_t>(generator());
    }
    return frame;
}

// Stored bytes that differ from the frame, plus every byte stored past `allowed`.
std::size_t bytesMadeUp(std::span<const std::uint8_t> stored, const Bytes& frame,
                        std::size_t allowed) {
    std::size_t madeUp = stored.size() > allowed ? stored.size() - allowed : 0;
    for (std::size_t i = 0; i < std::min(stored.size(), allowed); ++i) {
        madeUp += stored[i] != frame[i] ? 1u : 0u;
    }
    return madeUp;
}

// Runs `operation` (a window handler, on this thread) under a watchdog. One that has not returned
// within kHangLimit is a hang: the server is stopped, so that a port access waiting on it ends;
// should even that not end it, the bench gives up rather than block for ever. True on a hang.
bool hangs(FaultPortServer& server, const std::function<void()>& operation) {
    std::mutex mutex;
    std::condition_variable finished;
    bool done = false;
    bool fired = false;
    std::thread watchdog([&] {
        std::unique_lock lock(mutex);
        if (finished.wait_for(lock, kHangLimit, [&] { return done; })) {
            return;
        }
        fired = true;
        lock.unlock();
        server.stop();
        lock.lock();
        if (!finished.wait_for(lock, kHangLimit, [&] { return done; })) {
            std::fprintf(stderr,
                         "an operation still runs after its server was stopped; giving up\n");
            std::_Exit(2);
        }
    });
    operation();
    {
        std::lock_guard lock(mutex);
        done = true;
    }
    finished.notify_all();
    watchdog.join();
    return fired;
}

// A new SPI window on the socket back-end, as the program makes it.
struct Window {
    explicit Window(const std::string& path) : port(path, kReplyLimit) {
        clock.stepPerLook = std::chrono::milliseconds(1);  // the download yields every few bytes
    }
    ~Window() { form.Form_Unload(); }
    QString indicator() const { return form.findChild<QLabel*>("Label3")->text(); }

    lpt::SocketPort port;
    lpt::SpiLink link{port};
    frames::FrameStore store;
    testing_support::FakeClock clock;
    testing_support::FakeDialogs dialogs;
    ui::SpiForm form{link, store, clock, dialogs};
};

struct Tally {
    int downloads = 0;
    int faults = 0;
    std::size_t madeUp = 0;
    int hangs = 0;
    std::size_t fewestWarnings = SIZE_MAX;
    std::size_t mostWarnings = 0;
    int noLinkShown = 0;
    int nextWhole = 0;
    int startsFailedInTime = 0;
    std::vector<std::string> runsWithBytesMadeUp;

    void warnings(std::size_t count) {
        fewestWarnings = std::min(fewestWarnings, count);
        mostWarnings = std::max(mostWarnings, count);
    }
    bool allAsDescribed() const {
        return madeUp == 0 && hangs == 0 && fewestWarnings == 1 && mostWarnings == 1 &&
               noLinkShown == downloads && nextWhole == downloads;
    }
};

// After a faulted operation: the server back as it was, the buffer cleared, one more download.
// True when it stored the whole frame, showed "READY" and told the operator nothing.
bool nextOperationWorks(FaultPortServer& server, Window& window, const Bytes& frame, Tally& tally) {
    server.restart();
    const std::size_t warningsBefore = window.dialogs.warnings.size();
    window.form.Command8_Click();
    tally.hangs += hangs(server, [&] { window.form.Command7_Click(); }) ? 1 : 0;
    return std::ranges::equal(window.store.frame(), frame) &&
           window.dialogs.warnings.size() == warningsBefore && window.indicator() == "READY";
}

void runFault(FaultPortServer& server, PortFault fault, std::size_t after, const Bytes& frame,
              Tally& tally) {
    server.restart({fault, after});
    Window window(server.path());
    window.form.Form_Load();
    if (!window.dialogs.stops.empty()) {
        std::fprintf(stderr, "the window could not start: %s\n",
                     qPrintable(window.dialogs.stops.front().text));
        std::exit(1);
    }
    ++tally.downloads;
    tally.hangs += hangs(server, [&] { window.form.Command7_Click(); }) ? 1 : 0;
    // Served normally up to the fault: the server got that far, so the fault was met.
    tally.faults += server.waitForAccesses(after, std::chrono::milliseconds(1000)) ? 1 : 0;
    const std::size_t beforeCut = bytesBeforeCut(fault, after);
    const std::size_t madeUp = bytesMadeUp(window.store.frame(), frame, beforeCut);
    if (madeUp > 0) {
        tally.runsWithBytesMadeUp.push_back(
            "  fault after access " + std::to_string(after) + ": " +
            std::to_string(window.store.count()) + " bytes stored, " + std::to_string(beforeCut) +
            " read before the cut, " + std::to_string(madeUp) + " made up");
    }
    tally.madeUp += madeUp;
    tally.warnings(window.dialogs.warnings.size());
    tally.noLinkShown += window.indicator() == "НЕТ СВЯЗИ" ? 1 : 0;
    tally.nextWhole += nextOperationWorks(server, window, frame, tally) ? 1 : 0;
}

// A server that takes no connection: the start fails within its limit, the first operation asks
// once more and fails the same way with one warning and no byte, and once the server accepts,
// the next operation gets the frame.
void runNeverAccept(FaultPortServer& server, const Bytes& frame, Tally& tally, Milliseconds& took) {
    server.restart({PortFault::NeverAccept});
    Window window(server.path());
    const auto start = std::chrono::steady_clock::now();
    const bool startHung = hangs(server, [&] { window.form.Form_Load(); });
    took = std::chrono::steady_clock::now() - start;
    tally.hangs += startHung || took > kStartLimit ? 1 : 0;
    tally.startsFailedInTime += window.dialogs.stops.size() == 1 && took <= kStartLimit ? 1 : 0;
    ++tally.faults;

    ++tally.downloads;
    tally.hangs += hangs(server, [&] { window.form.Command7_Click(); }) ? 1 : 0;
    tally.madeUp += window.store.count();
    tally.warnings(window.dialogs.warnings.size());
    tally.noLinkShown += window.indicator() == "НЕТ СВЯЗИ" ? 1 : 0;
    tally.nextWhole += nextOperationWorks(server, window, frame, tally) ? 1 : 0;
}

void printTally(const char* name, const Tally& t) {
    std::printf(
        "%-11s downloads %3d  faults %3d  bytes made up %zu  hangs %d  warnings per faulted op "
        "%zu..%zu  \"НЕТ СВЯЗИ\" %d/%d  next op whole frame %d/%d\n",
        name, t.downloads, t.faults, t.madeUp, t.hangs, t.fewestWarnings, t.mostWarnings,
        t.noLinkShown, t.downloads, t.nextWhole, t.downloads);
    for (const std::string& run : t.runsWithBytesMadeUp) {
        std::printf("%s\n", run.c_str());
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    QTemporaryDir dir;
    const Bytes frame = knownFrame();
    FaultPortServer server(dir.filePath("port.sock").toStdString(), FaultPortServer::frame(frame));

    std::printf(
        "%zu-byte frame, faults at %zu places from access %zu to %zu, reply limit %lld ms\n",
        kFrameBytes, kPositions, faultPosition(0), faultPosition(kPositions - 1),
        static_cast<long long>(kReplyLimit.count()));
    const struct {
        const char* name;
        PortFault fault;
    } modes[] = {{"Close", PortFault::Close},
                 {"Reset", PortFault::Reset},
                 {"Silent", PortFault::Silent},
                 {"LateAnswer", PortFault::LateAnswer},
                 {"ExtraByte", PortFault::ExtraByte}};
    Tally total;
    bool asDescribed = true;
    for (const auto& mode : modes) {
        Tally tally;
        for (std::size_t i = 0; i < kPositions; ++i) {
            runFault(server, mode.fault, faultPosition(i), frame, tally);
        }
        printTally(mode.name, tally);
        asDescribed = asDescribed && tally.allAsDescribed();
        total.faults += tally.faults;
        total.madeUp += tally.madeUp;
        total.hangs += tally.hangs;
    }

    Tally never;
    Milliseconds took{};
    runNeverAccept(server, frame, never, took);
    printTally("NeverAccept", never);
    std::printf("            start failed in %.0f ms (limit %lld ms): %s\n", took.count(),
                static_cast<long long>(kReplyLimit.count()),
                never.startsFailedInTime == 1 ? "yes" : "NO");
    asDescribed = asDescribed && never.allAsDescribed() && never.startsFailedInTime == 1;
    total.faults += never.faults;
    total.madeUp += never.madeUp;
    total.hangs += never.hangs;

    std::printf("faults injected %d, bytes made up %zu, hangs %d\n", total.faults, total.madeUp,
                total.hangs);
    if (!asDescribed) {
        std::printf("some operation did not end as described (see the lines above)\n");
    }
    return total.madeUp == 0 && total.hangs == 0 && asDescribed ? 0 : 1;
}
