// The camctl program as a script runs it: exit statuses, its messages, and what the module and
// the saved files hold, over both links.
#include <fcntl.h>
#include <pty.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>

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

// The module's bytes in a trace: the hex of every "<-" line, in order.
QByteArray bytesFromModule(const QString& tracePath) {
    QFile trace(tracePath);
    EXPECT_TRUE(trace.open(QIODevice::ReadOnly));
    QByteArray bytes;
    for (const QByteArray& line : trace.readAll().split('\n')) {
        const auto arrow = line.indexOf(" <- ");
        if (arrow >= 0) {
            bytes += QByteArray::fromHex(line.mid(arrow + 4));
        }
    }
    return bytes;
}

QByteArray contentsOf(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The emulator program serving `option`=`path` (its pseudo-terminal link or its socket), ended
// with SIGTERM as a user ends it.
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

// Three frames over each emulated link: whole JPEGs, each file exactly the frame the module sent.
// Over SPI the module's first byte is the mode register read back in mode 1, on the way to mode 0.
TEST(Camctl, CaptureSavesThreeWholeFramesAsTheModuleSentThem) {
    for (const auto& [link, readBack] :
         {std::pair{QStringList{"--emulator=spi"}, QByteArray("\x01")},
          std::pair{QStringList{"--emulator=serial", "--baud=115200"}, QByteArray()}}) {
        QTemporaryDir dir;
        const QString trace = dir.filePath("trace");
        const Outcome run = camctl(link + QStringList{"--trace=" + trace, "--quiet", "capture",
                                                      "-n", "3", "-o", dir.filePath("f%d.jpg")});
        ASSERT_EQ(run.status, 0) << run.out << run.err;
        QByteArray saved;
        for (int n = 1; n <= 3; ++n) {
            const QByteArray frame = contentsOf(dir.filePath(QStringLiteral("f%1.jpg").arg(n)));
            const QImage image = QImage::fromData(frame, "JPEG");
            EXPECT_EQ(image.size(), QSize(352, 288)) << n;
            saved += frame;
        }
        EXPECT_EQ(readBack + saved, bytesFromModule(trace)) << link.join(' ').toStdString();
        EXPECT_EQ(std::count(run.out.begin(), run.out.end(), '\n'), 3) << run.out;
        EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files).size(), 4);  // no temporary left
    }
}

// Against the emulator program on a pseudo-terminal: the module is switched to 115200 first,
// then the PC; every setting read back is what was set; a reset takes the module back to 2400.
TEST(Camctl, SerialSpeedSetAndGetAgainstTheEmulatorProgram) {
    QTemporaryDir dir;
    const QString line = dir.filePath("cam");
    const EmulatorProgram emulator("--serial", line);
    ASSERT_TRUE(emulator.serving());
    const QString serial = "--serial=" + line;

    EXPECT_EQ(camctl({serial, "--json", "speed", "115200"}).out, "{\"speed\":115200}\n");
    EXPECT_EQ(camctl({serial, "--baud=115200", "speed"}).out, "speed=115200\n");
    const QStringList fast{serial, "--baud=115200"};
    const Outcome set =
        camctl(fast + QStringList{"set", "compression=4", "colour=bw", "brightness=3", "red=10",
                                  "green=20", "blue=30", "size=200x100", "test-mode=on"});
    EXPECT_EQ(set.status, 0) << set.err;
    EXPECT_EQ(set.err, "camctl: size=200x100 written as 192x96\n");
    const Outcome get = camctl(fast + QStringList{"--json", "get"});
    EXPECT_EQ(get.out,
              "{\"compression\":4,\"colour\":\"bw\",\"brightness\":3,\"red\":10,\"green\":20,"
              "\"blue\":30,\"size\":\"192x96\"}\n")
        << get.err;
    EXPECT_EQ(camctl({serial, "reset"}).status, 1);  // sent at 2400, to a module at 115200
    EXPECT_EQ(camctl(fast + QStringList{"reset"}).status, 0);
    EXPECT_EQ(camctl({serial, "speed"}).out, "speed=2400\n");
}

// Against the emulator program behind the socket port: a mode switch is written as the window
// writes it; later runs in that mode and in another one find the module's mode and read its
// values; a reset takes the module back to mode 0.
TEST(Camctl, SpiModeAndResetAgainstTheEmulatorProgram) {
    QTemporaryDir dir;
    const QString socket = dir.filePath("cam.sock");
    const EmulatorProgram emulator("--port-io-socket", socket);
    ASSERT_TRUE(emulator.serving());
    const QStringList spi{"--spi", "--port-io=unix:" + socket};

    EXPECT_EQ(camctl(spi + QStringList{"set", "brightness=7", "spi-mode=2"}).status, 0);
    const Outcome inMode2 = camctl(spi + QStringList{"--mode=2", "get"});
    EXPECT_NE(inMode2.out.find("brightness=7\n"), std::string::npos) << inMode2.out;
    EXPECT_NE(inMode2.out.find("spi-mode=2\n"), std::string::npos) << inMode2.out;
    const Outcome inMode1 = camctl(spi + QStringList{"--mode=1", "get"});
    EXPECT_NE(inMode1.out.find("brightness=7\n"), std::string::npos) << inMode1.out;
    EXPECT_NE(inMode1.out.find("spi-mode=1\n"), std::string::npos) << inMode1.out;
    EXPECT_EQ(camctl(spi + QStringList{"--mode=2", "reset"}).status, 0);
    const Outcome afterReset = camctl(spi + QStringList{"get"});
    EXPECT_NE(afterReset.out.find("spi-mode=0\n"), std::string::npos) << afterReset.out;
}

TEST(Camctl, ASilentModuleGives1NamingLinkAndReason) {
    int master = -1;
    int slave = -1;
    char name[256] = {};
    ASSERT_EQ(::openpty(&master, &slave, name, nullptr, nullptr), 0);
    const Outcome run = camctl({QStringLiteral("--serial=%1").arg(name), "get"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "camctl: serial " + std::string(name) +
                           ": the module did not answer: no reply within the time limit at 2400 "
                           "baud; the module may be at another line speed: try --baud=N, or "
                           "'camctl --baud=N speed' with each rate\n");
    const Outcome nowhere = camctl({"--spi", "--port-io=unix:/nonexistent/sock", "get"});
    EXPECT_EQ(nowhere.status, 1);
    EXPECT_NE(nowhere.err.find("camctl: spi LPT1: port access failed: "), std::string::npos)
        << nowhere.err;
    ::close(slave);
    ::close(master);
}

// A frame that never ends (a byte every 30 ms keeps a 2400-baud line from going quiet) holds the
// capture open; SIGTERM ends camctl there and then, by the signal, with nothing saved.
TEST(Camctl, SigtermEndsACaptureAtOnceSavingNothing) {
    int master = -1, slave = -1;
    ASSERT_EQ(::openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
    QTemporaryDir dir;
    QProcess process;
    process.start(CAMCTL_PROGRAM, {"--serial=" + QString::fromLocal8Bit(::ptsname(master)),
                                   "capture", "-o", dir.filePath("f")});
    const auto trickle = [&](int ms) {  // bytes on the line for `ms`, or until camctl ends
        QElapsedTimer elapsed;
        elapsed.start();
        while (elapsed.elapsed() < ms && !process.waitForFinished(30)) {
            EXPECT_EQ(::write(master, "U", 1), 1);
        }
        return elapsed.elapsed();
    };
    trickle(2500);  // the start, the capture command, its second, the frame begun
    ::kill(static_cast<pid_t>(process.processId()), SIGTERM);
    EXPECT_LT(trickle(5000), 1000);
    EXPECT_EQ(process.exitStatus(), QProcess::CrashExit);
    EXPECT_EQ(process.exitCode(), SIGTERM);  // a shell shows 143
    EXPECT_TRUE(QDir(dir.path()).isEmpty());
    ::close(slave);
    ::close(master);
}
