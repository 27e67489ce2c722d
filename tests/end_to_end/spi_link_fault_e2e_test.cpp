// The SPI window on the camera-emulator program over the socket back-end, tried as a new user
// would: the emulator dies in the middle of a frame download and is started again on the same
// path; and the window is started before any emulator runs. What the window keeps, shows and
// says, and what the trace holds, are checked against the JPEG file the emulator sends.
#include <gtest/gtest.h>

#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "lpt/socket_port.h"
#include "protocol/registers.h"
#include "support/fakes.h"
#include "ui/spi_form.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

// The emulator is killed once the store holds this many bytes: well inside the frame.
constexpr std::uint32_t kKillAfterBytes = 800;

// Every exchange in order; a fault is an entry of its own.
struct RecordingTrace final : protocol::ExchangeTrace {
    struct Entry {
        std::optional<protocol::Direction> direction;  // nullopt: a fault
        Bytes bytes;
        std::string fault;
    };
    void record(protocol::Direction direction, std::span<const std::uint8_t> bytes) override {
        entries.push_back({direction, Bytes(bytes.begin(), bytes.end()), {}});
    }
    void recordFault(std::string_view what) override {
        entries.push_back({std::nullopt, {}, std::string(what)});
    }
    std::vector<Entry> entries;
};

// Noise compresses badly: a 64 x 48 picture of it is a JPEG of about 3.5 KB. Every port access
// is a round trip to the emulator process (25 per byte), so a larger frame would make the test
// slow without testing more.
Bytes writeNoiseJpeg(const QString& path) {
    QImage image(64, 48, QImage::Format_RGB32);
    std::mt19937 generator(20240601);
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const auto value = generator();
            image.setPixel(x, y, qRgb(value & 0xFF, (value >> 8) & 0xFF, (value >> 16) & 0xFF));
        }
    }
    if (!image.save(path, "JPG", 90)) {
        return {};
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return {};
    }
    const QByteArray bytes = file.readAll();
    return {bytes.begin(), bytes.end()};
}

class SpiOnEmulatorProgram : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(temp.isValid());
        jpeg = writeNoiseJpeg(framePath);
        ASSERT_GT(jpeg.size(), 3u * kKillAfterBytes);
        // Each look at the clock moves it 1 ms: the download yields every few bytes.
        clock.stepPerLook = std::chrono::milliseconds(1);
    }
    void TearDown() override {
        form.Form_Unload();
        if (emulator.state() != QProcess::NotRunning) {
            emulator.kill();
            emulator.waitForFinished(5000);
        }
    }

    // Starts the emulator and waits for the line it prints once it serves the socket (the file
    // alone says nothing when a killed emulator left it behind).
    void startEmulator() {
        emulator.start(
            QStringLiteral(CAMERA_EMULATOR_PROGRAM),
            {"--port-io-socket=" + socketPath, "--frame=" + framePath, "--capture-time=0"});
        ASSERT_TRUE(emulator.waitForStarted(5000));
        QByteArray said;
        while (!said.contains("port I/O socket") && emulator.waitForReadyRead(5000)) {
            said += emulator.readAllStandardOutput();
        }
        ASSERT_TRUE(said.contains("port I/O socket"))
            << emulator.readAllStandardError().toStdString();
    }

    // "Очистить буфер", "Сформировать кадр", "Считать кадр".
    void captureAndRead() {
        form.Command8_Click();
        form.Command12_Click();
        form.Command7_Click();
    }
    QString shown(const char* name) {
        if (auto* edit = form.findChild<QLineEdit*>(name)) {
            return edit->text();
        }
        auto* label = form.findChild<QLabel*>(name);
        return label != nullptr ? label->text() : QString();
    }
    bool storeHoldsWholeFrame() const { return std::ranges::equal(frames.frame(), jpeg); }

    QTemporaryDir temp;
    const QString socketPath = temp.filePath("cam.sock");
    const QString framePath = temp.filePath("frame.jpg");
    Bytes jpeg;
    QProcess emulator;
    RecordingTrace trace;
    lpt::SocketPort port{socketPath.toStdString()};
    lpt::SpiLink link{port, &trace};
    frames::FrameStore frames;
    testing_support::FakeClock clock;
    testing_support::FakeDialogs dialogs;
    ui::SpiForm form{link, frames, clock, dialogs};
};

}  // namespace

TEST_F(SpiOnEmulatorProgram, EmulatorKilledMidFrameKeepsTheRealBytesAndANewOneServesTheFrame) {
    ASSERT_NO_FATAL_FAILURE(startEmulator());
    form.Form_Load();
    ASSERT_TRUE(dialogs.stops.empty());
    form.Command12_Click();

    std::uint32_t storedAtKill = 0;
    clock.duringYield = [&] {
        if (storedAtKill == 0 && frames.count() >= kKillAfterBytes) {
            storedAtKill = frames.count();
            emulator.kill();
            emulator.waitForFinished(5000);
        }
    };
    trace.entries.clear();
    form.Command7_Click();
    clock.duringYield = nullptr;

    // Only the bytes read before the kill, each the file's own.
    ASSERT_GT(storedAtKill, 0u);
    const std::uint32_t count = frames.count();
    EXPECT_EQ(count, storedAtKill);
    ASSERT_LT(count, jpeg.size());
    EXPECT_TRUE(std::ranges::equal(frames.frame(), std::span(jpeg).first(count)));
    EXPECT_EQ(shown("Text4"), QString::number(count));
    EXPECT_EQ(shown("Label3"), "НЕТ СВЯЗИ");
    EXPECT_TRUE(form.findChild<QTimer*>("Timer1")->isActive());
    ASSERT_EQ(dialogs.warnings.size(), 1u);
    EXPECT_EQ(dialogs.warnings[0].title, ui::Form1::linkFaultTitle());
    EXPECT_TRUE(dialogs.warnings[0].text.contains("LPT1") &&
                dialogs.warnings[0].text.contains(socketPath))
        << dialogs.warnings[0].text.toStdString();

    // The trace: the frame-read command, the bytes stored, then the fault, nothing after it.
    ASSERT_EQ(trace.entries.size(), 3u);
    EXPECT_EQ(trace.entries[0].direction, protocol::Direction::ToModule);
    EXPECT_EQ(trace.entries[0].bytes, Bytes{protocol::command::kFrameRead});
    EXPECT_EQ(trace.entries[1].direction, protocol::Direction::FromModule);
    EXPECT_TRUE(std::ranges::equal(trace.entries[1].bytes, frames.frame()));
    EXPECT_FALSE(trace.entries[2].direction.has_value());
    EXPECT_NE(trace.entries[2].fault.find(socketPath.toStdString()), std::string::npos);

    // The killed emulator left its socket file; the next one takes the path over, and the next
    // operation reconnects without a word.
    ASSERT_TRUE(QFileInfo(socketPath).exists());
    ASSERT_NO_FATAL_FAILURE(startEmulator());
    captureAndRead();
    EXPECT_TRUE(storeHoldsWholeFrame()) << frames.count() << " of " << jpeg.size();
    EXPECT_EQ(shown("Text4"), QString::number(jpeg.size()));
    EXPECT_EQ(shown("Label3"), "READY");
    EXPECT_EQ(dialogs.warnings.size(), 1u);
}

TEST_F(SpiOnEmulatorProgram, WindowStartedBeforeTheEmulatorConnectsAtItsFirstOperation) {
    form.Form_Load();
    ASSERT_EQ(dialogs.stops.size(), 1u);
    EXPECT_EQ(dialogs.stops[0].title, ui::SpiForm::kStartFailedTitle);
    EXPECT_TRUE(dialogs.stops[0].text.startsWith(ui::SpiForm::kStartFailedText + "\n\n") &&
                dialogs.stops[0].text.contains(socketPath))
        << dialogs.stops[0].text.toStdString();

    ASSERT_NO_FATAL_FAILURE(startEmulator());
    captureAndRead();
    EXPECT_TRUE(storeHoldsWholeFrame()) << frames.count() << " of " << jpeg.size();
    EXPECT_EQ(shown("Label3"), "READY");
    EXPECT_TRUE(dialogs.warnings.empty());
}
