// The camctl program as a script runs it, where the program itself matters: its command line's
// exit statuses and help, and how a signal ends it. Its commands against the emulated module run
// in process (tests/camctl).
#include <fcntl.h>
#include <pty.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>
#include <functional>

#include "lpt/socket_port.h"
#include "module_rtl.h"
#include "protocol/registers.h"

namespace {

struct Outcome {
    int status = -1;
    std::string out;
    std::string err;
};

Outcome camctl(const QStringList& arguments, int timeoutMs = 60000) {
    QProcess process;
    process.start(CAMCTL_PROGRAM, arguments);
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished();
    }
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            process.readAllStandardOutput().toStdString(),
            process.readAllStandardError().toStdString()};
}

class EmulatorProgram {
  public:
    EmulatorProgram(const QString& option, const QString& path) {
        process_.start(CAMERA_EMULATOR_PROGRAM, {option + "=" + path});
        serving_ = QTest::qWaitFor([&] { return QFile::exists(path); }, 5000);
    }
    ~EmulatorProgram() {
        ::kill(static_cast<pid_t>(process_.processId()), SIGTERM);
        EXPECT_TRUE(process_.waitForFinished(5000));
    }
    bool serving() const { return serving_; }

  private:
    QProcess process_;
    bool serving_ = false;
};

}  // namespace

TEST(Camctl, UsageErrorsGive2AndHelpListsEveryCommandAndName) {
    for (const QStringList& arguments :
         {QStringList{"get"}, QStringList{"--emulator=spi", "set", "brightness=26"},
          QStringList{"--emulator=serial", "speed", "300"}}) {
        const Outcome run = camctl(arguments);
        EXPECT_EQ(run.status, 2) << arguments.join(' ').toStdString();
        EXPECT_NE(run.err.find("--help"), std::string::npos) << run.err;
    }
    const Outcome help = camctl({"--help"});
    EXPECT_EQ(help.status, 0);
    for (const char* word :
         {"get", "set NAME=VALUE", "capture", "speed [BAUD]", "reset", "compression=0..6",
          "colour=colour|bw", "brightness=0..25", "red=", "green=", "blue=0..63", "size=WxH",
          "test-mode=on|off", "spi-mode=0..3", "--json", "--quiet", "--trace", "130", "143"}) {
        EXPECT_NE(help.out.find(word), std::string::npos) << word;
    }
}

// Against the emulator program behind the socket port: a run leaves the module in mode 2; the
// next run, in mode 1, finds the module's mode and captures a frame of the size set before, whole
// (a byte read in a mode the module is not in garbles the frame).
TEST(Camctl, ARunInAnotherModeFindsTheModuleAgainstTheEmulatorProgram) {
    QTemporaryDir dir;
    const QString socket = dir.filePath("cam.sock");
    const EmulatorProgram emulator("--port-io-socket", socket);
    ASSERT_TRUE(emulator.serving());
    const QStringList spi{"--spi", "--port-io=unix:" + socket};

    EXPECT_EQ(camctl(spi + QStringList{"set", "size=160x120", "spi-mode=2"}).status, 0);
    const Outcome inMode1 =
        camctl(spi + QStringList{"--mode=1", "capture", "-o", dir.filePath("f.jpg")});
    EXPECT_EQ(inMode1.status, 0) << inMode1.err;
    EXPECT_NE(inMode1.out.find(" whole-jpeg 160x120\n"), std::string::npos) << inMode1.out;
}

// -o - into the tools engineers use: ffprobe decodes three frames of the size set, and a reader
// that takes part of a stream with no end and goes away ends camctl with status 0.
TEST(Camctl, TheStreamOnStandardOutputPlaysInFfmpegAndEndsWithItsReader) {
    QTemporaryDir dir;
    const QString socket = dir.filePath("cam.sock");
    const EmulatorProgram emulator("--port-io-socket", socket);
    ASSERT_TRUE(emulator.serving());
    const QStringList spi{"--spi", "--port-io=unix:" + socket, "--quiet"};
    ASSERT_EQ(camctl(spi + QStringList{"set", "size=160x120"}).status, 0);
    const auto play = [&](const QString& frames, const QString& reader, const QStringList& args) {
        QProcess source;
        QProcess sink;
        source.setStandardOutputProcess(&sink);
        sink.start(reader, args);
        source.start(CAMCTL_PROGRAM, spi + QStringList{"capture", "-n", frames, "-o", "-"});
        EXPECT_TRUE(source.waitForFinished(60000) && sink.waitForFinished(10000));
        EXPECT_EQ(source.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(source.exitCode(), 0);
        const QByteArray report = source.readAllStandardError();
        EXPECT_TRUE(report.startsWith("1 - ") && report.endsWith(" whole-jpeg 160x120\n"))
            << report.data();
        return sink.readAllStandardOutput();
    };
    EXPECT_EQ(play("3", "ffprobe",
                   {"-v", "error", "-f", "mjpeg", "-count_frames", "-show_entries",
                    "stream=nb_read_frames,width,height", "-of", "csv=p=0", "-i", "-"}),
              "160,120,3\n");
    EXPECT_EQ(play("0", "head", {"-c", "1000"}).size(), 1000);
}

// The reference module's RTL behind the port bridge, driven by camctl as a bench PC drives a
// module, in each mode (a case each, so they run side by side): the settings read back as set,
// the frame comes byte for byte as its memory holds it, a second client is shut out, and a reset
// brings the module back to mode 0.
class CamctlOnTheModulesRtl : public ::testing::TestWithParam<int> {};

TEST_P(CamctlOnTheModulesRtl, SetGetCaptureAndReset) {
    if (!ModuleRtl::kBuilt) {
        GTEST_SKIP() << "built without Verilator's simulator of the module (hdl/)";
    }
    QTemporaryDir dir;
    const QByteArray frame =
        QByteArray::fromStdString(camctl({"--emulator=spi", "--quiet", "capture", "-o", "-"}).out);
    ASSERT_TRUE(frame.startsWith("\xFF\xD8"));
    ModuleRtl rtl(dir.path(), frame);
    ASSERT_TRUE(rtl.serving);
    const int mode = GetParam();
    const QStringList spi{"--spi", "--port-io=unix:" + rtl.socket, "--quiet"};
    const QStringList inMode = spi + QStringList{"--mode=" + QString::number(mode)};
    const QStringList levels{"brightness=" + QString::number(mode + 1),
                             "red=" + QString::number(10 + mode), "size=160x120"};
    EXPECT_EQ(camctl(inMode + QStringList{"set"} + levels).status, 0);
    const Outcome read = camctl(inMode + QStringList{"get"});
    EXPECT_NE(read.out.find(levels[0].toStdString() + "\n" + levels[1].toStdString()),
              std::string::npos)
        << read.out;
    EXPECT_NE(read.out.find("size=160x120\nspi-mode=" + std::to_string(mode)), std::string::npos);
    const QString got = dir.filePath("got.jpg");
    EXPECT_EQ(camctl(inMode + QStringList{"capture", "-o", got}).status, 0);
    QFile saved(got);
    EXPECT_TRUE(saved.open(QIODevice::ReadOnly));
    EXPECT_EQ(saved.readAll(), frame);
    {
        lpt::SocketPort holder(rtl.socket.toStdString());
        std::uint8_t status = 0;
        ASSERT_TRUE(holder.start() && holder.readByte(0x379, status));
        const Outcome shutOut = camctl(spi + QStringList{"get"});
        EXPECT_EQ(shutOut.status, 1) << shutOut.err;
        EXPECT_NE(shutOut.err.find("another client may hold the simulator"), std::string::npos)
            << shutOut.err;
    }
    EXPECT_EQ(camctl(inMode + QStringList{"reset"}).status, 0);
    EXPECT_NE(camctl(spi + QStringList{"get"}).out.find("spi-mode=0\n"), std::string::npos);
    EXPECT_TRUE(rtl.end());
}

INSTANTIATE_TEST_SUITE_P(EveryMode, CamctlOnTheModulesRtl, ::testing::Values(0, 1, 2, 3));

// A frame that never ends (a byte every 30 ms keeps a 2400-baud line from going quiet) holds the
// capture open; SIGTERM ends camctl there and then, by the signal, with nothing saved.
// Ctrl-C is said at once, and a second one ends the capture there and then, by the signal, with
// nothing saved either.
void endsACaptureAtOnceSavingNothing(int signal) {
    SCOPED_TRACE(signal);
    int master = -1, slave = -1;
    ASSERT_EQ(::openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
    QTemporaryDir dir;
    QProcess process;
    process.start(CAMCTL_PROGRAM, {"--serial=" + QString::fromLocal8Bit(::ptsname(master)),
                                   "capture", "-o", dir.filePath("f")});
    ::fcntl(master, F_SETFL, O_NONBLOCK);
    bool frameAsked = false;
    // Bytes on the line until camctl ends, `until` says so, or 5 s have gone.
    const auto trickle = [&](const std::function<bool()>& until) {
        QElapsedTimer elapsed;
        elapsed.start();
        while (!until() && elapsed.elapsed() < 5000 && !process.waitForFinished(30)) {
            EXPECT_EQ(::write(master, "U", 1), 1);
            for (std::uint8_t sent = 0; ::read(master, &sent, 1) == 1;) {
                frameAsked = frameAsked || sent == protocol::command::kFrameRead;
            }
        }
        return elapsed.elapsed();
    };
    // The start, the capture command, its second, and the frame asked for and begun.
    trickle([&] { return frameAsked; });
    int framed = 0;
    trickle([&] { return ++framed > 3; });
    QByteArray said;
    if (signal == SIGINT) {
        ::kill(static_cast<pid_t>(process.processId()), SIGINT);
        trickle([&] { return (said += process.readAllStandardError()).contains("Ctrl-C again"); });
        EXPECT_TRUE(said.contains("stops once the frame in progress is saved")) << said.data();
    }
    ::kill(static_cast<pid_t>(process.processId()), signal);
    EXPECT_LT(trickle([] { return false; }), 1000);
    EXPECT_EQ(process.exitStatus(), QProcess::CrashExit);
    EXPECT_EQ(process.exitCode(), signal);  // a shell shows 143 or 130
    EXPECT_TRUE(QDir(dir.path()).isEmpty());
    ::close(slave);
    ::close(master);
}

TEST(Camctl, SigtermOrASecondCtrlCEndsACaptureAtOnceSavingNothing) {
    endsACaptureAtOnceSavingNothing(SIGTERM);
    endsACaptureAtOnceSavingNothing(SIGINT);
}
