// camctl's logic in this process, on a clock that moves at once: the command line, set and get
// against an emulated module behind the SPI link, and capture's files, lines and exit statuses.
#include <gtest/gtest.h>

#include <pty.h>
#include <unistd.h>
#include <QDir>
#include <QImage>
#include <QTemporaryDir>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <iterator>

#include "camctl/capture_run.h"
#include "camctl/command_line.h"
#include "camctl/run.h"
#include "camctl/settings_script.h"
#include "emulator/in_process_module.h"
#include "lpt/ftdi_port.h"
#include "lpt/socket_port.h"
#include "lpt/spi_link.h"
#include "session/spi_session.h"
#include "support/compressed_clock.h"
#include "support/emulated_serial_module.h"
#include "support/fake_clock.h"
#include "support/fake_mpsse_adapter.h"
#include "support/recording_port.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes contentsOf(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Keeps what the module sent, one record per reply or frame.
struct ModuleBytes final : protocol::ExchangeTrace {
    void record(protocol::Direction direction, std::span<const std::uint8_t> bytes) override {
        if (direction == protocol::Direction::FromModule) {
            records.emplace_back(bytes.begin(), bytes.end());
            anyFromModule = true;
            if (onFromModule) {
                onFromModule();
            }
        }
    }
    std::function<void()> onFromModule;
    std::vector<Bytes> records;
    std::atomic<bool> anyFromModule{false};
};

// A module that compresses at once, so the fake clock's second is enough.
emulator::CameraModule::Options instantModule(std::optional<Bytes> fixedFrame = std::nullopt) {
    return {std::chrono::microseconds(0), [] { return std::chrono::steady_clock::now(); },
            std::move(fixedFrame)};
}

// An emulated module behind the SPI link.
struct SpiRig {
    explicit SpiRig(std::optional<Bytes> fixedFrame = std::nullopt)
        : module(instantModule(std::move(fixedFrame))),
          link(module.port, &trace),
          session(link, clock) {
        session.start();
    }
    std::uint16_t reg(protocol::Register r) const { return module.module.registerValue(r); }

    emulator::InProcessSpiModule module;
    ModuleBytes trace;
    lpt::SpiLink link;
    testing_support::FakeClock clock;
    session::SpiSession session;
};

std::vector<camctl::SettingChange> changes(std::initializer_list<std::string_view> texts) {
    std::vector<camctl::SettingChange> out;
    for (std::string_view text : texts) {
        const auto parsed = camctl::parseSetting(text, camctl::LinkKind::Spi);
        EXPECT_TRUE(parsed.change) << text << ": " << parsed.error;
        out.push_back(parsed.change.value_or(camctl::SettingChange{}));
    }
    return out;
}

// What capture wrote to its standard output.
struct CapturedOutput {
    CapturedOutput() : file(std::tmpfile()) {}
    ~CapturedOutput() { std::fclose(file); }
    std::string text() const {
        std::rewind(file);
        std::string s;
        for (int c; (c = std::fgetc(file)) != EOF;) {
            s += static_cast<char>(c);
        }
        return s;
    }
    std::FILE* file;
};

// A command as the program runs it, with what it printed.
struct Outcome {
    int status = -1;
    std::string out;
    std::string err;
};

template <typename Command>
Outcome runCommand(Command command) {
    ::testing::internal::CaptureStdout();
    ::testing::internal::CaptureStderr();
    Outcome done;
    done.status = command();
    std::fflush(nullptr);
    done.out = ::testing::internal::GetCapturedStdout();
    done.err = ::testing::internal::GetCapturedStderr();
    return done;
}

camctl::Options options(const std::vector<std::string>& arguments) {
    const auto parsed = camctl::parseCommandLine(arguments);
    EXPECT_EQ(parsed.error, "") << ::testing::PrintToString(arguments);
    return parsed.options;
}

std::atomic<bool> neverInterrupted{false};
const camctl::Interrupt kNoInterrupt{neverInterrupted, [] {}};

// camctl's runs against one emulated module, which keeps its registers from run to run as the
// emulator program does for its clients. Behind the SPI link on the fake clock, the module
// compressing at once; on a pseudo-terminal, on a clock that skips what its waits do not need.
struct SpiModule {
    Outcome camctl(std::vector<std::string> arguments, protocol::ExchangeTrace* trace = nullptr) {
        arguments.insert(arguments.begin(), "--spi");
        return runCommand([&] {
            return camctl::runSpi(options(arguments), module.port, trace, clock, kNoInterrupt);
        });
    }
    emulator::InProcessSpiModule module{instantModule()};
    testing_support::FakeClock clock;
};

struct SerialModule {
    SerialModule() { module.pace(clock, &sent.bytes); }
    // `emulated`: the module starts at 2400, as camctl --emulator=serial has it.
    Outcome camctl(std::vector<std::string> arguments, protocol::ExchangeTrace* trace = nullptr,
                   bool emulated = false) {
        const std::string& path = module.device;
        arguments.insert(arguments.begin(), emulated ? "--emulator=serial" : "--serial=" + path);
        sent.next = trace;
        return runCommand([&] {
            return camctl::runSerial(options(arguments), path, &sent, clock, kNoInterrupt);
        });
    }
    // Counts what the PC sends, for the clock, and hands every record on.
    struct Sent final : protocol::ExchangeTrace {
        void record(protocol::Direction direction, std::span<const std::uint8_t> data) override {
            bytes += direction == protocol::Direction::ToModule ? data.size() : 0;
            if (next != nullptr) {
                next->record(direction, data);
            }
        }
        std::atomic<std::uint64_t> bytes{0};
        protocol::ExchangeTrace* next = nullptr;
    } sent;
    testing_support::EmulatedSerialModule module;
    testing_support::CompressedClock clock;
};

}  // namespace

TEST(CamctlCommandLine, RefusesWhatItCannotDo) {
    const std::vector<std::vector<std::string>> refused = {
        {"get"},                                                     // no link
        {"--spi", "--emulator=serial", "get"},                       // two links
        {"--emulator=usb", "get"},                                   // no such emulator
        {"--emulator=spi"},                                          // no command
        {"--emulator=spi", "get", "extra"},                          // get takes nothing
        {"--emulator=spi", "set"},                                   // set needs a setting
        {"--emulator=spi", "set", "brightness=26"},                  // above the slider
        {"--emulator=spi", "set", "red=-1"},                         // below it
        {"--emulator=spi", "set", "colour=grey"},                    // not a colour mode
        {"--emulator=spi", "set", "size=352"},                       // not WxH
        {"--emulator=spi", "set", "zoom=2"},                         // no such setting
        {"--emulator=serial", "set", "spi-mode=1"},                  // SPI only
        {"--emulator=spi", "speed"},                                 // serial only
        {"--serial=/dev/null", "speed", "1000"},                     // not a speed of the table
        {"--serial=/dev/null", "--baud=38401", "get"},               // ditto
        {"--serial=/dev/null", "--mode=1", "get"},                   // SPI option on serial
        {"--serial=/dev/null", "--lpt=1", "get"},                    // ditto, at its default
        {"--spi", "--baud=2400", "get"},                             // serial option on SPI
        {"--emulator=spi", "--port-io=auto", "get"},                 // no port to the emulator
        {"--spi", "--lpt=3", "get"},                                 // LPT1 or LPT2
        {"--spi", "--mode=4", "get"},                                // modes 0..3
        {"--emulator=spi", "capture", "-n", "-1"},                   // no count below none
        {"--emulator=spi", "capture", "-n", "0", "-o", "same.jpg"},  // no end, one name
        {"--emulator=spi", "capture", "-n", "2", "-o", "same.jpg"},  // each would replace one
        {"--emulator=spi", "capture", "-o", "f%s.jpg"},              // only %d
        {"--emulator=spi", "capture", "-o", "%d-%d"},                // one number
        {"--emulator=spi", "capture", "--interval=-1"},              // no negative wait
        {"--emulator=spi", "--frobnicate", "get"},                   // unknown option
        {"--emulator=spi", "--trace=", "get"},                       // an empty value
        {"--emulator=spi", "--trace", "out", "get"},                 // the file only as --trace=
        {"--spi", "--port-io=ppdev", "--port-io=direct", "get"},     // a value given twice
        {"--emulator=spi", "capture", "-o", "a%d", "-o", "b%d"},     // ditto
    };
    for (const auto& arguments : refused) {
        const auto parsed = camctl::parseCommandLine(arguments);
        EXPECT_FALSE(parsed.error.empty()) << ::testing::PrintToString(arguments);
    }
}

TEST(CamctlCommandLine, TakesOptionsOnEitherSideOfTheCommand) {
    const auto parsed =
        camctl::parseCommandLine({"--serial", "/dev/ttyUSB0", "capture", "-n", "4", "--baud=115200",
                                  "-o", "x%02d.jpg", "--interval=0.5", "--json"});
    ASSERT_EQ(parsed.error, "");
    const camctl::Options& o = parsed.options;
    EXPECT_EQ(o.link, camctl::LinkKind::Serial);
    EXPECT_EQ(o.device, "/dev/ttyUSB0");
    EXPECT_EQ(o.baud, 115200u);
    EXPECT_EQ(o.command, camctl::Command::Capture);
    EXPECT_EQ(o.capture.count, 4);
    EXPECT_EQ(camctl::frameFileName(o.capture.pattern, 7), "x07.jpg");
    EXPECT_DOUBLE_EQ(o.capture.interval.count(), 0.5);
    EXPECT_TRUE(o.capture.json);
    EXPECT_EQ(camctl::parseCommandLine({"--emulator=spi", "--mode=3", "get"}).options.mode, 3);
}

TEST(CamctlCapture, FileNamesFromThePattern) {
    const std::vector<std::tuple<std::string, int, std::string>> rows = {
        {"frame-%03d.jpg", 7, "frame-007.jpg"}, {"f%d.jpg", 12, "f12.jpg"}, {"%4d", 3, "   3"},
        {"100%%-%d.jpg", 2, "100%-2.jpg"},      {"one.jpg", 5, "one.jpg"},
    };
    for (const auto& [pattern, n, name] : rows) {
        EXPECT_EQ(camctl::checkPattern(pattern), std::nullopt) << pattern;
        EXPECT_EQ(camctl::frameFileName(pattern, n), name) << pattern;
    }
}

TEST(CamctlSettings, SetWritesTheRegistersAndGetReadsThemBack) {
    SpiRig rig;
    camctl::ModuleSettings settings(rig.session);
    std::vector<std::string> notes;
    ASSERT_EQ(settings.apply(changes({"compression=5", "colour=bw", "brightness=25", "red=0",
                                      "green=63", "blue=17", "size=176x144", "spi-mode=3"}),
                             notes),
              std::nullopt);
    EXPECT_TRUE(notes.empty());
    EXPECT_EQ(rig.reg(protocol::Register::Compression), 13);
    EXPECT_EQ(rig.reg(protocol::Register::Brightness), 250);
    EXPECT_EQ(rig.reg(protocol::Register::Red), 0);
    EXPECT_EQ(rig.reg(protocol::Register::Green), 252);
    EXPECT_EQ(rig.reg(protocol::Register::Blue), 68);
    EXPECT_EQ(rig.reg(protocol::Register::FrameWidth), 176);
    EXPECT_EQ(rig.reg(protocol::Register::FrameHeight), 144);
    EXPECT_EQ(rig.reg(protocol::Register::SpiMode), 3);

    const auto reading = settings.read();
    ASSERT_EQ(reading.failure, std::nullopt);
    const std::vector<std::pair<std::string, std::string>> expected = {
        {"compression", "5"}, {"colour", "bw"}, {"brightness", "25"}, {"red", "0"},
        {"green", "63"},      {"blue", "17"},   {"size", "176x144"},  {"spi-mode", "3"}};
    EXPECT_EQ(reading.values, expected);

    // Colour alone keeps the module's level; an arbitrary size follows the window's rule.
    ASSERT_EQ(settings.apply(changes({"colour=colour", "size=100x1000"}), notes), std::nullopt);
    EXPECT_EQ(rig.reg(protocol::Register::Compression), 5);
    EXPECT_EQ(notes, std::vector<std::string>{"size=100x1000 written as 96x320"});
    EXPECT_EQ(settings.read().values[6], (std::pair<std::string, std::string>{"size", "96x320"}));
}

TEST(CamctlSettings, BothHalvesOfTheCompressionRegisterGivenAreWrittenWithoutAskingTheModule) {
    SpiRig rig;
    camctl::ModuleSettings settings(rig.session);
    std::vector<std::string> notes;
    ASSERT_EQ(settings.apply(changes({"colour=bw", "brightness=3", "compression=2"}), notes),
              std::nullopt);
    EXPECT_EQ(rig.reg(protocol::Register::Compression), 10);
    EXPECT_TRUE(rig.trace.records.empty());  // no reply was asked for
}

TEST(CamctlSettings, ALinkThatGivesNoReplyFailsTheReadBack) {
    SpiRig rig;
    camctl::ModuleSettings settings(rig.session);
    rig.session.stop();
    const auto reading = settings.read();
    // A stopped link gives no byte at all, so the read-back cannot show made-up values.
    ASSERT_TRUE(reading.failure.has_value());
    EXPECT_TRUE(reading.values.empty());
}

// The module keeps its SPI mode between runs. Whatever mode one run left it in, the next run
// finds it from its own mode and reads the module's true values.
TEST(CamctlSettings, ARunInAnyModeReadsTheValuesWhicheverModeTheRunBeforeLeft) {
    for (int left = 0; left < protocol::kSpiModeCount; ++left) {
        for (int wanted = 0; wanted < protocol::kSpiModeCount; ++wanted) {
            SpiRig rig;
            std::vector<std::string> notes;
            camctl::ModuleSettings(rig.session)
                .apply(changes({"compression=5", "brightness=7", "red=5", "size=176x144"}), notes);
            auto expected = camctl::ModuleSettings(rig.session).read().values;
            ASSERT_TRUE(rig.session.switchMode(left));
            rig.session.stop();  // the run ends, and the module drops what it owed it

            lpt::SpiLink link(rig.module.port);
            session::SpiSession next(link, rig.clock);
            next.start();
            const auto search = next.takeMode(wanted);
            ASSERT_TRUE(search && search->found) << left << " -> " << wanted;
            expected.back().second = std::to_string(wanted);
            EXPECT_EQ(camctl::ModuleSettings(next).read().values, expected)
                << left << " -> " << wanted;
        }
    }
}

// A line with no module on it reads all zeros or all ones: no mode is found there, 0 included.
TEST(CamctlSettings, NoModeIsFoundWhereTheModuleNeverAgrees) {
    for (const auto& [statusLines, mode] : {std::pair{0x00, 0}, std::pair{0x20, 2}}) {
        testing_support::RecordingPort port;
        port.setStatusFallback(static_cast<std::uint8_t>(statusLines));
        lpt::SpiLink link(port);
        testing_support::FakeClock clock;
        session::SpiSession spi(link, clock);
        spi.start();
        const auto search = spi.takeMode(mode);
        ASSERT_TRUE(search);
        EXPECT_FALSE(search->found) << mode;
    }
}

TEST(CamctlCapture, SavesEachFrameAsTheModuleSentIt) {
    QTemporaryDir dir;
    SpiRig rig;
    CapturedOutput out;
    const std::atomic<bool> interrupted{false};
    camctl::CaptureRequest request;
    request.pattern = dir.filePath("f%d.jpg").toStdString();
    request.count = 3;
    const int status = camctl::runCapture(rig.session, rig.clock, request,
                                          {out.file, stderr, false, "spi LPT1"}, interrupted);
    EXPECT_EQ(status, startup::kExitDone);
    ASSERT_EQ(rig.trace.records.size(), 3u);
    for (int n = 1; n <= 3; ++n) {
        EXPECT_EQ(contentsOf(camctl::frameFileName(request.pattern, n)),
                  rig.trace.records[static_cast<std::size_t>(n - 1)])
            << n;
    }
    const std::string text = out.text();
    EXPECT_NE(text.find("1 " + camctl::frameFileName(request.pattern, 1) + " " +
                        std::to_string(rig.trace.records[0].size()) + " bytes"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("whole-jpeg 352x288\n3 "), std::string::npos) << text;
}

// A name keeps its line to itself and JSON stays valid UTF-8: control bytes, backslash and bytes
// that are no UTF-8 are escaped in what is printed (UTF-8 passes), the file has the name's bytes.
TEST(CamctlCapture, NamesAreEscapedInTheLineAndInJson) {
    for (const auto& [json, printed] : {std::pair{false, R"(aé\nb\xff\\1 6 bytes)"},
                                        std::pair{true, R"(aé\u000ab\udcff\\1",)"}}) {
        QTemporaryDir dir;
        SpiRig rig(Bytes{0xFF, 0xD8, 0x01, 0x02, 0xFF, 0xD9});
        CapturedOutput out;
        const std::string folder = dir.path().toStdString() + "/";
        const camctl::CaptureRequest request{folder + "aé\nb\xff\\%d", 1, {}, json};
        camctl::runCapture(rig.session, rig.clock, request, {out.file, stderr, false, "spi"},
                           std::atomic<bool>{false});
        EXPECT_EQ(contentsOf(folder + "aé\nb\xff\\1").size(), 6u);
        EXPECT_NE(out.text().find(folder + printed), std::string::npos) << out.text();
        std::remove((folder + "aé\nb\xff\\1").c_str());  // QTemporaryDir cannot name it
    }
}

TEST(CamctlCapture, ACutFrameIsSavedAndEndsWithStatus3) {
    QTemporaryDir dir;
    const Bytes cut = {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x10, 'J', 'F', 'I', 'F'};
    SpiRig rig(cut);
    CapturedOutput out;
    const std::atomic<bool> interrupted{false};
    camctl::CaptureRequest request;
    request.pattern = dir.filePath("cut.jpg").toStdString();
    request.json = true;
    EXPECT_EQ(camctl::runCapture(rig.session, rig.clock, request, {out.file, stderr, false, "spi"},
                                 interrupted),
              camctl::kExitNotWholeJpeg);
    EXPECT_EQ(contentsOf(request.pattern), cut);
    EXPECT_NE(out.text().find("\"whole_jpeg\":false,\"soi\":true,\"eoi\":false"), std::string::npos)
        << out.text();
}

// A folder that takes no new file (none there, or one of the kernel's) is found before the run
// sends anything, over either link: status 1, the folder and the system's reason said.
TEST(CamctlCapture, AFolderThatTakesNoFileEndsTheRunBeforeAnythingIsSent) {
    struct Sent final : protocol::ExchangeTrace {
        void record(protocol::Direction direction, std::span<const std::uint8_t>) override {
            count += direction == protocol::Direction::ToModule ? 1 : 0;
        }
        std::atomic<int> count = 0;
    } sent;
    SpiModule spi;
    SerialModule serial;
    // The kernel's own words for /proc differ with who runs the test.
    for (const auto& [folder, reason] :
         {std::pair{"/proc", ""}, {"/none", std::strerror(ENOENT)}}) {
        const std::vector<std::string> capture = {"capture", "-o", std::string(folder) + "/x.jpg"};
        for (const Outcome& run : {spi.camctl(capture, &sent), serial.camctl(capture, &sent)}) {
            EXPECT_EQ(run.status, 1);
            EXPECT_NE(run.err.find(std::string("cannot save frames in ") + folder + ": " + reason),
                      std::string::npos)
                << run.err;
        }
    }
    EXPECT_EQ(sent.count, 0);
}

TEST(CamctlCapture, APortLostMidFrameEndsWithStatus1AndNoFile) {
    QTemporaryDir dir;
    testing_support::RecordingPort port;
    port.setStatusFallback(0x20);  // data bit set, ready flag never: the frame goes on
    constexpr std::size_t kCommandAccesses = 2 * 17;
    constexpr std::size_t kAccessesPerByte = 25;
    port.failFrom(kCommandAccesses + 10 * kAccessesPerByte + 5, "port socket s: connection reset");
    lpt::SpiLink link(port);
    testing_support::FakeClock clock;
    session::SpiSession spi(link, clock);
    spi.start();
    CapturedOutput out;
    CapturedOutput errors;
    const std::atomic<bool> interrupted{false};
    camctl::CaptureRequest request;
    request.pattern = dir.filePath("lost.jpg").toStdString();
    EXPECT_EQ(camctl::runCapture(spi, clock, request, {out.file, errors.file, false, "spi LPT1"},
                                 interrupted),
              startup::kExitFailure);
    const std::string err = errors.text();
    // The bytes before the fault are real but no frame: nothing is saved under the name.
    EXPECT_FALSE(std::ifstream(request.pattern).good());
    // The link is named once, then the reason.
    EXPECT_NE(err.find("camctl: spi LPT1: frame 1: port socket s: connection reset"),
              std::string::npos)
        << err;
    EXPECT_NE(err.find("(10 bytes received)"), std::string::npos) << err;
    EXPECT_TRUE(out.text().empty());
}

TEST(CamctlCapture, AnInterruptEndsTheRunAfterTheFrameInProgress) {
    // The interrupt comes with the first frame's bytes: that frame is saved, no other is fetched.
    SpiRig rig(Bytes{0xFF, 0xD8, 0x01, 0xFF, 0xD9});
    QTemporaryDir dir;
    CapturedOutput out;
    camctl::CaptureRequest request;
    request.pattern = dir.filePath("f%d.jpg").toStdString();
    request.count = 3;
    EXPECT_EQ(camctl::runCapture(rig.session, rig.clock, request, {out.file, stderr, false, "spi"},
                                 rig.trace.anyFromModule),
              camctl::kExitInterrupted);
    EXPECT_EQ(rig.trace.records.size(), 1u);
    EXPECT_EQ(contentsOf(camctl::frameFileName(request.pattern, 1)).size(), 5u);
    EXPECT_FALSE(std::ifstream(camctl::frameFileName(request.pattern, 2)).good());
}

// -o -: whole JPEGs only go into the stream, each as the module sent it; a reader that goes away
// during a frame ends a run with no end after that frame, done.
TEST(CamctlCapture, TheStreamCarriesWholeFramesOnlyUntilItsReaderGoes) {
    std::signal(SIGPIPE, SIG_IGN);  // as camctl has it when it streams
    const Bytes cut = {0xFF, 0xD8, 0xFF, 0xE0};
    for (const auto& [frame, count, status, lines] : {std::tuple{std::optional<Bytes>{}, 2, 0, 2},
                                                      {cut, 2, camctl::kExitNotWholeJpeg, 2},
                                                      {std::optional<Bytes>{}, 0, 0, 0}}) {
        SpiRig rig(frame);
        int ends[2] = {-1, -1};
        ASSERT_EQ(::pipe(ends), 0);
        if (count == 0) {
            rig.trace.onFromModule = [&] { ::close(std::exchange(ends[0], -1)); };
        }
        CapturedOutput report;
        camctl::CaptureOutput output{report.file, stderr, false, "spi"};
        output.stream = ends[1];
        EXPECT_EQ(camctl::runCapture(rig.session, rig.clock, {"-", count, {}, false}, output,
                                     neverInterrupted),
                  status);
        ::close(ends[1]);
        Bytes streamed(64 * 1024);
        streamed.resize(ends[0] < 0 ? 0
                                    : static_cast<std::size_t>(
                                          ::read(ends[0], streamed.data(), streamed.size())));
        Bytes whole;
        for (const Bytes& record : rig.trace.records) {
            whole.insert(whole.end(), record.begin(), record.end());
        }
        EXPECT_EQ(rig.trace.records.size(), count == 0 ? 1u : 2u);
        EXPECT_EQ(streamed, frame || count == 0 ? Bytes{} : whole);
        const std::string text = report.text();
        EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), lines) << text;
        EXPECT_EQ(text.find("left-out-of-the-stream") != std::string::npos, frame.has_value());
        ::close(ends[0]);
    }
}

// A frame over the serial line, from the command line: a whole JPEG, the file exactly the frame
// the module sent, one line printed, no temporary left. (Over SPI: CamctlCapture above, and the
// end-to-end run against the emulator program.)
TEST(CamctlRun, CaptureSavesWholeFramesAsTheModuleSentThem) {
    QTemporaryDir dir;
    const std::string file = dir.filePath("f1.jpg").toStdString();
    ModuleBytes trace;
    SerialModule serial;
    const Outcome done =
        serial.camctl({"--baud=115200", "--quiet", "capture", "-o", file}, &trace, true);
    ASSERT_EQ(done.status, 0) << done.out << done.err;
    const Bytes saved = contentsOf(file);
    EXPECT_EQ(QImage::fromData(saved.data(), static_cast<int>(saved.size()), "JPEG").size(),
              QSize(352, 288));
    Bytes sent;
    for (const Bytes& record : trace.records) {
        sent.insert(sent.end(), record.begin(), record.end());
    }
    EXPECT_EQ(saved, sent);
    EXPECT_EQ(std::count(done.out.begin(), done.out.end(), '\n'), 1) << done.out;
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files).size(), 1);
}

// The module is switched to 115200 first, then the PC; every setting read back is what was set;
// a reset takes the module back to 2400.
TEST(CamctlRun, SerialSpeedSetAndGet) {
    SerialModule module;
    EXPECT_EQ(module.camctl({"--json", "speed", "115200"}).out, "{\"speed\":115200}\n");
    EXPECT_EQ(module.camctl({"--baud=115200", "speed"}).out, "speed=115200\n");
    const Outcome set =
        module.camctl({"--baud=115200", "set", "compression=4", "colour=bw", "brightness=3",
                       "red=10", "green=20", "blue=30", "size=200x100", "test-mode=on"});
    EXPECT_EQ(set.status, 0) << set.err;
    EXPECT_EQ(set.err, "camctl: size=200x100 written as 192x96\n");
    const Outcome get = module.camctl({"--baud=115200", "--json", "get"});
    EXPECT_EQ(get.out,
              "{\"compression\":4,\"colour\":\"bw\",\"brightness\":3,\"red\":10,\"green\":20,"
              "\"blue\":30,\"size\":\"192x96\"}\n")
        << get.err;
    EXPECT_EQ(module.camctl({"reset"}).status, 1);  // sent at 2400, to a module at 115200
    EXPECT_EQ(module.camctl({"--baud=115200", "reset"}).status, 0);
    EXPECT_EQ(module.camctl({"speed"}).out, "speed=2400\n");
    // Told at a speed it is not at, the module does not switch: that is no success.
    const Outcome unheard = module.camctl({"--baud=9600", "speed", "115200"});
    EXPECT_EQ(unheard.status, 1);
    EXPECT_NE(unheard.err.find("did not switch"), std::string::npos) << unheard.err;
    EXPECT_EQ(module.camctl({"speed"}).out, "speed=2400\n");
}

// A mode switch is written as the window writes it, a later run in that mode finds the module
// there (the values read in any mode: the table above), and a reset takes it back to mode 0.
TEST(CamctlRun, SpiModeAndReset) {
    SpiModule module;
    EXPECT_EQ(module.camctl({"set", "spi-mode=2"}).status, 0);
    EXPECT_EQ(module.camctl({"--mode=2", "reset"}).status, 0);
    const Outcome afterReset = module.camctl({"get"});
    EXPECT_NE(afterReset.out.find("spi-mode=0\n"), std::string::npos) << afterReset.out;
}

// Through an FTDI adapter (the fake one, in front of the emulated module's parallel port) camctl
// sets, reads back, captures and resets in every mode as on the parallel port itself.
TEST(CamctlRun, OverAnFtdiAdapterEveryModeWorksAsOnTheParallelPort) {
    emulator::InProcessSpiModule module{instantModule()};
    testing_support::FakeMpsseAdapter adapter(module.port);
    lpt::FtdiPort ftdi(adapter);
    testing_support::FakeClock clock;
    QTemporaryDir dir;
    const auto run = [&](std::vector<std::string> arguments) {
        arguments.insert(arguments.begin(), {"--spi", "--port-io=ftdi"});
        return runCommand(
            [&] { return camctl::runSpi(options(arguments), ftdi, nullptr, clock, kNoInterrupt); });
    };
    for (int mode = 0; mode < 4; ++mode) {
        SCOPED_TRACE(mode);
        const std::string inMode = "--mode=" + std::to_string(mode);
        EXPECT_EQ(run({inMode, "set", "red=" + std::to_string(mode + 5)}).status, 0);
        EXPECT_NE(run({inMode, "get"}).out.find("red=" + std::to_string(mode + 5) + "\n"),
                  std::string::npos);
        const std::string file = dir.filePath("f.jpg").toStdString();
        EXPECT_EQ(run({inMode, "capture", "-o", file}).status, 0);
        EXPECT_EQ(contentsOf(file), module.module.currentFrame());
        EXPECT_EQ(run({inMode, "reset"}).status, 0);
        EXPECT_EQ(module.module.spiMode(), 0);
    }
}

TEST(CamctlRun, ASilentModuleGives1NamingLinkAndReason) {
    int master = -1;
    int slave = -1;
    char name[256] = {};
    ASSERT_EQ(::openpty(&master, &slave, name, nullptr, nullptr), 0);
    testing_support::FakeClock clock;  // nothing comes, so no wait has anything to let in
    const Outcome silent = runCommand([&] {
        return camctl::runSerial(options({"--serial=" + std::string(name), "get"}), name, nullptr,
                                 clock, kNoInterrupt);
    });
    EXPECT_EQ(silent.status, 1);
    EXPECT_EQ(silent.err, "camctl: serial " + std::string(name) +
                              ": the module did not answer: no reply within the time limit at "
                              "2400 baud; the module may be at another line speed: try "
                              "--baud=N, or 'camctl --baud=N speed' with each rate\n");
    ::close(slave);
    ::close(master);

    lpt::SocketPort nowhere("/nonexistent/sock");
    const Outcome noPort = runCommand([&] {
        return camctl::runSpi(options({"--spi", "get"}), nowhere, nullptr, clock, kNoInterrupt);
    });
    EXPECT_EQ(noPort.status, 1);
    EXPECT_NE(noPort.err.find("camctl: spi LPT1: port access failed: "), std::string::npos)
        << noPort.err;
}
