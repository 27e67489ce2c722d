// SPI and comtrak take the paths of their command line as the bytes given, UTF-8 or not: a trace
// file, a socket and a serial device whose names hold the byte 0xFF are used as named. An
// emulated module and a port of their own are one choice too many, refused before the display.
// --lang=en brings the windows up in English.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>
#include <fstream>
#include <iterator>

namespace {

bool existsAsBytes(const QByteArray& path) {
    struct stat st {};
    return ::lstat(path.constData(), &st) == 0;
}

std::string contentsOf(const QByteArray& path) {
    std::ifstream in(path.toStdString());
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Runs `command` under /bin/sh with $ff the byte 0xFF and $1 the test's folder.
void startWithByteNames(QProcess& process, const QString& command, const QString& folder) {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("QT_QPA_PLATFORM", "offscreen");
    process.setProcessEnvironment(environment);
    process.start("/bin/sh", {"-c", "ff=$(printf '\\377'); " + command, "sh", folder});
    ASSERT_TRUE(process.waitForStarted(5000));
}

// An X server of the test's own, and the environment that puts a program's window on it.
class VirtualDisplay {
  public:
    VirtualDisplay() {
        server.start("Xvfb", {"-displayfd", "1", "-nolisten", "tcp"});
        if (server.waitForReadyRead(10000)) {
            name = ":" + QString::fromLatin1(server.readAllStandardOutput()).trimmed();
        }
        environment.insert("QT_QPA_PLATFORM", "xcb");
        environment.insert("DISPLAY", name);
    }
    ~VirtualDisplay() {
        server.terminate();
        server.waitForFinished(5000);
    }
    bool started() const { return !name.isEmpty(); }
    // Whether a window whose title and class read `names` (as xwininfo shows them) is on it.
    bool shows(const QByteArray& names) {
        QProcess windows;
        windows.start("xwininfo", {"-display", name, "-root", "-tree"});
        return windows.waitForFinished(5000) && windows.readAllStandardOutput().contains(names);
    }

    QProcess server;
    QString name;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
};

}  // namespace

TEST(ProgramPaths, NamesThatAreNoUtf8AreUsedByteForByte) {
    QTemporaryDir dir;
    const QByteArray folder = QFile::encodeName(dir.path());
    QProcess emulator;
    startWithByteNames(emulator,
                       QStringLiteral("exec \"%1\" \"--port-io-socket=$1/sock$ff\" "
                                      "\"--serial=$1/tty$ff\" \"--log=$1/log\"")
                           .arg(CAMERA_EMULATOR_PROGRAM),
                       dir.path());
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return existsAsBytes(folder + "/sock\xff") && existsAsBytes(folder + "/tty\xff"); },
        5000));

    QProcess spi;
    startWithByteNames(spi,
                       QStringLiteral("exec \"%1\" \"--port-io=unix:$1/sock$ff\" "
                                      "--trace \"$1/spi-trace$ff\"")
                           .arg(SPI_PROGRAM),
                       dir.path());
    QProcess comtrak;
    startWithByteNames(
        comtrak,
        QStringLiteral("exec \"%1\" \"--com2=$1/tty$ff\" \"--trace=$1/com-trace$ff\"")
            .arg(COMTRAK_PROGRAM),
        dir.path());

    // SPI reached the emulator through the socket named with the byte, and both traces are there.
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            return contentsOf(folder + "/log").find("port I/O client connected") !=
                   std::string::npos;
        },
        5000))
        << spi.readAllStandardError().toStdString();
    EXPECT_TRUE(existsAsBytes(folder + "/spi-trace\xff"));
    EXPECT_TRUE(QTest::qWaitFor([&] { return existsAsBytes(folder + "/com-trace\xff"); }, 5000));
    for (QProcess* program : {&spi, &comtrak}) {
        program->kill();
        program->waitForFinished(5000);
    }
    ::kill(static_cast<pid_t>(emulator.processId()), SIGTERM);
    EXPECT_TRUE(emulator.waitForFinished(5000));
    // The folder's own clean-up cannot name these.
    ::unlink((folder + "/spi-trace\xff").constData());
    ::unlink((folder + "/com-trace\xff").constData());
}

// --emulator with an option that names the port it would take, or a --lang that names no
// language, is a usage error (status 2), told before the display is looked for; without a
// display, a command line that passes ends with 1.
TEST(ProgramStart, AChoiceThatCannotBeTakenIsAUsageError) {
    const struct {
        const char* program;
        QStringList arguments;
        int status;
        const char* says;
    } cases[] = {
        {SPI_PROGRAM, {"--emulator", "--port-io=ppdev"}, 2, "--emulator and --port-io=ppdev"},
        {SPI_PROGRAM, {"--emulator", "--port-io=emulator"}, 1, "no display"},
        {COMTRAK_PROGRAM, {"--com2=/dev/ttyUSB0", "--emulator"}, 2, "--emulator and --com2"},
        {COMTRAK_PROGRAM, {"--emulator", "--com1=/dev/ttyUSB0"}, 1, "no display"},
        {SPI_PROGRAM, {"--lang=de"}, 2, "--lang=de is not one of ru, en"},
        {COMTRAK_PROGRAM, {"--lang=EN"}, 2, "--lang=EN is not one of ru, en"},
        {COMTRAK_PROGRAM, {"--lang=en"}, 1, "no display"},
    };
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("QT_QPA_PLATFORM", "xcb");
    environment.remove("DISPLAY");
    environment.remove("WAYLAND_DISPLAY");
    for (const auto& c : cases) {
        QProcess program;
        program.setProcessEnvironment(environment);
        program.start(QString::fromUtf8(c.program), c.arguments);
        const std::string what = c.arguments.join(' ').toStdString();
        ASSERT_TRUE(program.waitForFinished(10000)) << what;
        EXPECT_EQ(program.exitCode(), c.status) << what;
        const QString said = QString::fromUtf8(program.readAllStandardError());
        EXPECT_TRUE(said.contains(QString::fromUtf8(c.says))) << what << ": " << said.toStdString();
    }
}

// The X server going away ends the program from within Qt (its connection broke); the pins' file
// still ends whole, Qt's reason its last comment.
TEST(ProgramStart, SpiEndsItsVcdWholeWhenTheXServerDies) {
    QTemporaryDir dir;
    VirtualDisplay display;
    ASSERT_TRUE(display.started()) << "Xvfb did not start (scripts/setup.sh)";
    QProcess spi;
    spi.setProcessEnvironment(display.environment);
    const QString vcd = dir.filePath("pins.vcd");
    spi.start(SPI_PROGRAM, {"--emulator", "--vcd=" + vcd});
    // The window on the screen: the program's exit hook is in place by then.
    EXPECT_TRUE(QTest::qWaitFor([&] { return display.shows("(\"SPI\" \"SPI\")"); }, 10000));
    display.server.terminate();
    ASSERT_TRUE(spi.waitForFinished(10000));
    EXPECT_EQ(spi.exitCode(), 1);
    const std::string pins = contentsOf(QFile::encodeName(vcd));
    EXPECT_NE(pins.find("$enddefinitions $end\n"), std::string::npos);
    const std::string last = pins.substr(pins.rfind('\n', pins.size() - 2) + 1);
    EXPECT_TRUE(last.starts_with("$comment the program exited before its window closed: The X11 "
                                 "connection broke") &&
                last.ends_with(" $end\n"))
        << last;
}

// --lang=en finds the English texts where the build lays them out beside its programs, as the
// package installs them: both windows come up with their English titles.
TEST(ProgramStart, BothWindowsComeUpInEnglish) {
    VirtualDisplay display;
    ASSERT_TRUE(display.started()) << "Xvfb did not start (scripts/setup.sh)";
    const std::pair<const char*, QByteArray> windows[] = {
        {SPI_PROGRAM, "\"Camera module program over LPT\": (\"SPI\""},
        {COMTRAK_PROGRAM, "\"Camera module program over RS-232\": (\"comtrak\""}};
    for (const auto& [program, title] : windows) {
        QProcess window;
        window.setProcessEnvironment(display.environment);
        window.start(program, {"--emulator", "--lang=en"});
        EXPECT_TRUE(QTest::qWaitFor([&, t = title] { return display.shows(t); }, 10000)) << program;
        window.kill();
        window.waitForFinished(5000);
    }
}
