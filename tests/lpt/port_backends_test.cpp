// The ppdev and direct back-ends under faked system calls (no port is touched), the ppdev
// address -> device mapping on a fake /proc and /dev tree, and the --port-io choice.
#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <linux/ppdev.h>
#include <sys/ioctl.h>

#include <QTemporaryDir>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <vector>

#include "lpt/direct_port.h"
#include "lpt/port_io_factory.h"
#include "lpt/ppdev_port.h"
#include "lpt/socket_port.h"
#include "support/recording_port.h"

namespace lpt {
namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;
using testing_support::RecordingPort;

std::string hexText(unsigned address) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%x", address);
    return text;
}

// A fake system tree in a temporary folder: proc/parportN/base-addr and dev/parportN.
class FakeParportTree {
  public:
    FakeParportTree() : root_(dir_.path().toStdString()) {
        fs::create_directories(paths().procRoot);
        fs::create_directories(paths().devDir);
        // The kernel also keeps a "default" folder here; it is not a port.
        fs::create_directories(paths().procRoot / "default");
    }

    ParportPaths paths() const { return {root_ / "proc", root_ / "dev"}; }

    void listPort(const std::string& name, const std::string& baseAddrText) {
        fs::create_directories(paths().procRoot / name);
        std::ofstream(paths().procRoot / name / "base-addr") << baseAddrText;
    }
    // A plain file where the device should be: it opens, but no ioctl works on it.
    void addDeviceFile(const std::string& name) { std::ofstream(paths().devDir / name) << ""; }
    fs::path device(const std::string& name) const { return paths().devDir / name; }

  private:
    QTemporaryDir dir_;
    fs::path root_;
};

TEST(ParportMapping, FollowsTheBaseAddressesTheKernelLists) {
    FakeParportTree tree;
    tree.listPort("parport0", "632\t1656\n");  // LPT2's address listed first
    tree.listPort("parport1", "888\t1912\n");

    EXPECT_EQ(parportDeviceFor(0x378, tree.paths()), tree.device("parport1"));
    EXPECT_EQ(parportDeviceFor(0x278, tree.paths()), tree.device("parport0"));
}

TEST(ParportMapping, FallsBackToTheUsualNumberingForUnlistedPorts) {
    FakeParportTree tree;
    tree.listPort("parport0", "53248\t53256\n");  // a PCI card, not at a classic address
    tree.listPort("parport7", "garbage\n");

    EXPECT_EQ(parportDeviceFor(0x378, tree.paths()), tree.device("parport0"));
    EXPECT_EQ(parportDeviceFor(0x278, tree.paths()), tree.device("parport1"));
    EXPECT_EQ(parportDeviceFor(0x3BC, tree.paths()), fs::path{});

    const ParportPaths noProcTree{"/nonexistent/proc/parport", "/dev"};
    EXPECT_EQ(parportDeviceFor(0x378, noProcTree), fs::path("/dev/parport0"));
}

TEST(ParportFailureText, TellsTheOperatorWhatToDo) {
    const fs::path device = "/dev/parport0";
    for (int error : {EACCES, EPERM}) {
        const std::string text = parportFailureText("open", device, error);
        EXPECT_THAT(text, HasSubstr("/dev/parport0"));
        EXPECT_THAT(text, HasSubstr(std::strerror(error)));
        EXPECT_THAT(text, HasSubstr("'lp' group"));
    }
    EXPECT_THAT(parportFailureText("open", device, ENOENT), HasSubstr("no such parallel port"));
    EXPECT_THAT(parportFailureText("open", device, ENOENT), HasSubstr(kNoParportAdvice));
    EXPECT_THAT(parportFailureText("claim", device, EIO),
                ::testing::StartsWith("cannot claim /dev/parport0: "));
}

// With the real system calls on the fake tree: the start fails for the device the mapping
// chose, with the system's reason, and the port then goes on quietly.
TEST(PpdevPortStart, MissingDeviceIsAFailedStartNamingIt) {
    FakeParportTree tree;
    tree.listPort("parport3", "888\n");
    PpdevPort port(tree.paths());

    EXPECT_FALSE(port.start());
    const std::string startFault = port.fault();
    EXPECT_THAT(startFault, HasSubstr(tree.device("parport3").string()));
    EXPECT_THAT(startFault, HasSubstr("no such parallel port"));
    EXPECT_FALSE(port.writeByte(0x378, 0xFA));
    EXPECT_THAT(port.fault(), HasSubstr(startFault));  // never claimed
}

TEST(PpdevPortStart, DeviceThatCannotBeClaimedIsAFailedStart) {
    FakeParportTree tree;
    tree.addDeviceFile("parport0");
    PpdevPort port(tree.paths());

    EXPECT_FALSE(port.start());
    EXPECT_THAT(port.fault(), HasSubstr("cannot claim " + tree.device("parport0").string()));
    EXPECT_THAT(port.fault(), HasSubstr(std::strerror(ENOTTY)));
    std::uint8_t status = 7;
    EXPECT_FALSE(port.readByte(0x379, status));
    EXPECT_EQ(status, 0u);
}

// Stands in for open/ioctl/close and keeps every call, so a test sees which device each
// register access went to.
class FakePpdevSystem {
  public:
    struct Ioctl {
        std::string device;
        unsigned long request;
        int value;  // the byte written or answered; -1 for claim/release
        friend bool operator==(const Ioctl&, const Ioctl&) = default;
    };

    PpdevCalls calls() {
        return {[this](const char* path, int) { return open(path); },
                [this](int fd, unsigned long request, void* argument) {
                    return ioctl(fd, request, argument);
                },
                [this](int fd) {
                    closed.push_back(openFiles_.at(fd));
                    openFiles_.erase(fd);
                    return 0;
                }};
    }

    std::map<std::string, int> openErrors;   // device name -> errno of its open
    std::map<std::string, int> ioctlErrors;  // device name -> errno of every data access
    std::uint8_t status = 0;
    std::vector<std::string> opened;
    std::vector<std::string> closed;
    std::vector<Ioctl> ioctls;

  private:
    int open(const char* path) {
        const std::string name = fs::path(path).filename().string();
        opened.push_back(name);
        if (auto error = openErrors.find(name); error != openErrors.end()) {
            errno = error->second;
            return -1;
        }
        openFiles_[nextFd_] = name;
        return nextFd_++;
    }

    int ioctl(int fd, unsigned long request, void* argument) {
        const std::string& name = openFiles_.at(fd);
        auto* byte = static_cast<unsigned char*>(argument);
        const bool dataAccess = request == PPWDATA || request == PPRSTATUS;
        if (auto error = ioctlErrors.find(name); dataAccess && error != ioctlErrors.end()) {
            ioctls.push_back({name, request, -1});
            errno = error->second;
            return -1;
        }
        if (request == PPRSTATUS) {
            *byte = status;
        }
        ioctls.push_back({name, request, dataAccess ? *byte : -1});
        return 0;
    }

    std::map<int, std::string> openFiles_;
    int nextFd_ = 10;
};

class PpdevPortAccess : public ::testing::Test {
  protected:
    PpdevPortAccess() {
        tree_.listPort("parport0", "888\n");
        tree_.listPort("parport1", "632\n");
    }
    using Ioctl = FakePpdevSystem::Ioctl;

    FakeParportTree tree_;
    FakePpdevSystem system_;
    PpdevPort port_{tree_.paths(), system_.calls()};
};

TEST_F(PpdevPortAccess, DataWritesAndStatusReadsGoToTheMappedDevice) {
    system_.status = 0xA0;
    ASSERT_TRUE(port_.start()) << port_.fault();
    EXPECT_THAT(system_.opened, ElementsAre("parport0"));  // LPT2 waits for its first use

    std::uint8_t status = 0;
    EXPECT_TRUE(port_.writeByte(0x378, 0xF8));
    EXPECT_TRUE(port_.readByte(0x379, status));
    EXPECT_EQ(status, 0xA0u);
    EXPECT_TRUE(port_.writeByte(0x278, 0xFB));
    port_.stop();

    EXPECT_THAT(system_.ioctls,
                ElementsAre(Ioctl{"parport0", PPCLAIM, -1}, Ioctl{"parport0", PPWDATA, 0xF8},
                            Ioctl{"parport0", PPRSTATUS, 0xA0}, Ioctl{"parport1", PPCLAIM, -1},
                            Ioctl{"parport1", PPWDATA, 0xFB}, Ioctl{"parport0", PPRELEASE, -1},
                            Ioctl{"parport1", PPRELEASE, -1}));
    EXPECT_THAT(system_.closed, ElementsAre("parport0", "parport1"));
}

TEST_F(PpdevPortAccess, OnlyDataWritesAndStatusReadsOfAKnownPortAreServed) {
    ASSERT_TRUE(port_.start());
    const std::size_t afterStart = system_.ioctls.size();

    std::uint8_t value = 0;
    EXPECT_FALSE(port_.writeByte(0x379, 0xF8));  // the status register is read-only
    EXPECT_FALSE(port_.writeByte(0x37A, 0xF8));  // the control register stays alone
    EXPECT_FALSE(port_.readByte(0x378, value));
    EXPECT_FALSE(port_.writeByte(0x3BC, 0xF8));
    EXPECT_FALSE(port_.readByte(0x0000, value));

    EXPECT_EQ(system_.ioctls.size(), afterStart);
    EXPECT_THAT(system_.opened, ElementsAre("parport0"));
}

TEST_F(PpdevPortAccess, NothingIsTouchedBeforeStartOrAfterStop) {
    std::uint8_t value = 0;
    EXPECT_FALSE(port_.writeByte(0x378, 0xFA));
    EXPECT_FALSE(port_.readByte(0x279, value));
    EXPECT_THAT(port_.fault(), HasSubstr("not started"));
    ASSERT_TRUE(port_.start());
    port_.stop();
    EXPECT_FALSE(port_.writeByte(0x378, 0xFA));

    EXPECT_THAT(system_.opened, ElementsAre("parport0"));
    EXPECT_THAT(system_.ioctls,
                ElementsAre(Ioctl{"parport0", PPCLAIM, -1}, Ioctl{"parport0", PPRELEASE, -1}));
}

TEST_F(PpdevPortAccess, MissingSecondPortIsReportedOnceAndSkippedAfterwards) {
    system_.openErrors["parport1"] = ENOENT;
    ASSERT_TRUE(port_.start());

    ::testing::internal::CaptureStderr();
    std::uint8_t value = 0;
    for (int i = 0; i < 25; ++i) {
        EXPECT_FALSE(port_.writeByte(0x278, 0xFA));
        EXPECT_FALSE(port_.readByte(0x279, value));
    }
    const std::string errors = ::testing::internal::GetCapturedStderr();

    EXPECT_THAT(errors, HasSubstr(tree_.device("parport1").string()));
    EXPECT_EQ(std::count(errors.begin(), errors.end(), '\n'), 1) << errors;
    EXPECT_THAT(port_.fault(), HasSubstr("cannot open " + tree_.device("parport1").string() + ": " +
                                         std::strerror(ENOENT)));
    EXPECT_THAT(system_.opened, ElementsAre("parport0", "parport1"));  // no retry per access
    EXPECT_TRUE(port_.writeByte(0x378, 0xFA));                         // LPT1 is unaffected
}

TEST_F(PpdevPortAccess, DeviceThatFailsMidRunIsGivenUpWithOneLineUntilTheNextStart) {
    ASSERT_TRUE(port_.start());
    ASSERT_TRUE(port_.writeByte(0x378, 0xF8));
    system_.ioctlErrors["parport0"] = ENODEV;

    ::testing::internal::CaptureStderr();
    std::uint8_t value = 0;
    EXPECT_FALSE(port_.writeByte(0x378, 0xF9));
    for (int i = 0; i < 25; ++i) {
        EXPECT_FALSE(port_.writeByte(0x378, 0xF9));
        EXPECT_FALSE(port_.readByte(0x379, value));
    }
    const std::string errors = ::testing::internal::GetCapturedStderr();

    EXPECT_THAT(errors, HasSubstr(std::strerror(ENODEV)));
    EXPECT_EQ(std::count(errors.begin(), errors.end(), '\n'), 1) << errors;
    EXPECT_THAT(port_.fault(), HasSubstr("data write on " + tree_.device("parport0").string() +
                                         " failed: " + std::strerror(ENODEV)));
    const auto dataAccesses = std::count_if(system_.ioctls.begin(), system_.ioctls.end(),
                                            [](const Ioctl& call) { return call.value >= 0; });
    EXPECT_EQ(dataAccesses, 1);  // only the write before the failure got through
    EXPECT_THAT(system_.closed, ElementsAre("parport0"));

    // A start is how the link asks the port back: the device is opened and claimed afresh.
    system_.ioctlErrors.clear();
    ASSERT_TRUE(port_.start());
    EXPECT_TRUE(port_.writeByte(0x378, 0xFA));
    EXPECT_THAT(system_.opened, ElementsAre("parport0", "parport0"));
    EXPECT_EQ(system_.ioctls.end()[-2], (Ioctl{"parport0", PPCLAIM, -1}));
}

TEST_F(PpdevPortAccess, AddressesThatNameOneDeviceShareOneClaim) {
    // parport0 is listed at LPT2's address and is also LPT1's fallback: a second open and
    // PPCLAIM of a port this process holds would block for good.
    FakeParportTree onePort;
    onePort.listPort("parport0", "632\n");
    PpdevPort port(onePort.paths(), system_.calls());
    ASSERT_TRUE(port.start());
    EXPECT_TRUE(port.writeByte(0x278, 0xFA));
    EXPECT_TRUE(port.writeByte(0x378, 0xFB));
    port.stop();

    EXPECT_THAT(system_.opened, ElementsAre("parport0"));
    EXPECT_THAT(system_.ioctls,
                ElementsAre(Ioctl{"parport0", PPCLAIM, -1}, Ioctl{"parport0", PPWDATA, 0xFA},
                            Ioctl{"parport0", PPWDATA, 0xFB}, Ioctl{"parport0", PPRELEASE, -1}));
}

// Direct I/O with the privileged calls faked: the tests check that no in/out instruction is
// ever issued for an address the kernel did not grant (a real one would kill the process).
struct FakeDirectIo {
    static inline std::map<unsigned long, int> permitResult;  // base -> 0 or errno
    static inline std::vector<std::tuple<unsigned long, unsigned long, int>> permits;
    static inline std::vector<std::pair<std::uint8_t, std::uint16_t>> outs;
    static inline std::vector<std::uint16_t> ins;
    static inline unsigned euid = 1000;

    static void reset() {
        euid = 1000;
        permitResult.clear();
        permits.clear();
        outs.clear();
        ins.clear();
    }
    static DirectIoCalls calls() {
        return {
            [](unsigned long from, unsigned long count, int turnOn) {
                permits.emplace_back(from, count, turnOn);
                const int error = turnOn != 0 ? permitResult[from] : 0;
                errno = error;
                return error == 0 ? 0 : -1;
            },
            [](std::uint8_t value, std::uint16_t address) { outs.emplace_back(value, address); },
            [](std::uint16_t address) {
                ins.push_back(address);
                return std::uint8_t{0x5A};
            },
            [] { return euid; }};
    }
};

class DirectPortTest : public ::testing::Test {
  protected:
    DirectPortTest() { FakeDirectIo::reset(); }
    ~DirectPortTest() override { FakeDirectIo::reset(); }
};

TEST_F(DirectPortTest, RefusedPermissionFailsTheStartAndNoInstructionRuns) {
    FakeDirectIo::permitResult[0x378] = EPERM;
    FakeDirectIo::permitResult[0x278] = EPERM;
    DirectPort port(FakeDirectIo::calls());

    EXPECT_FALSE(port.start());
    EXPECT_THAT(port.fault(), HasSubstr("0x378"));
    EXPECT_THAT(port.fault(), HasSubstr(std::strerror(EPERM)));
    EXPECT_THAT(port.fault(), HasSubstr("CAP_SYS_RAWIO"));

    std::uint8_t value = 0;
    for (std::uint16_t address : std::initializer_list<std::uint16_t>{0x378, 0x379, 0x278, 0x279}) {
        EXPECT_FALSE(port.writeByte(address, 0xFA));
        EXPECT_FALSE(port.readByte(address, value));
        EXPECT_THAT(port.fault(), HasSubstr(hexText(address & ~1u)));  // the port refused
    }
    EXPECT_THAT(FakeDirectIo::outs, IsEmpty());
    EXPECT_THAT(FakeDirectIo::ins, IsEmpty());
}

// What the refusal tells the user depends on why: no privilege, or a kernel that refuses root.
TEST_F(DirectPortTest, RefusalSaysWhatTheUserCanDo) {
    struct Case {
        unsigned euid;
        int error;
        const char* says;
        const char* doesNotSay;
    };
    for (const Case& refusal :
         {Case{1000, EPERM, "needs root or CAP_SYS_RAWIO", "runs as root"},
          Case{0, EPERM, "runs as root, yet the kernel refused", "needs root"},
          Case{0, ENOSYS, "no I/O port instructions", "needs root"}}) {
        FakeDirectIo::euid = refusal.euid;
        FakeDirectIo::permitResult[0x378] = refusal.error;
        DirectPort port(FakeDirectIo::calls());

        EXPECT_FALSE(port.start());
        EXPECT_THAT(port.fault(), HasSubstr(refusal.says)) << refusal.euid;
        EXPECT_THAT(port.fault(), Not(HasSubstr(refusal.doesNotSay))) << refusal.euid;
    }
}

TEST_F(DirectPortTest, OnlyTheGrantedPortsRegistersAreAccessed) {
    FakeDirectIo::permitResult[0x278] = EPERM;
    DirectPort port(FakeDirectIo::calls());
    ASSERT_TRUE(port.start());
    EXPECT_THAT(port.fault(), IsEmpty());

    std::uint8_t status = 0;
    EXPECT_TRUE(port.writeByte(0x378, 0xF9));
    EXPECT_TRUE(port.readByte(0x379, status));
    EXPECT_EQ(status, 0x5Au);
    EXPECT_FALSE(port.writeByte(0x278, 0xFA));  // LPT2 refused
    EXPECT_FALSE(port.writeByte(0x37B, 0xFA));  // past the three registers asked for
    EXPECT_FALSE(port.readByte(0x377, status));
    EXPECT_THAT(port.fault(), HasSubstr("0x377 is no register"));

    EXPECT_THAT(FakeDirectIo::outs,
                ElementsAre(std::pair<std::uint8_t, std::uint16_t>{0xF9, 0x378}));
    EXPECT_THAT(FakeDirectIo::ins, ElementsAre(0x379));
}

TEST_F(DirectPortTest, StopDropsThePermissionsAndAStartAsksForThemAgain) {
    DirectPort port(FakeDirectIo::calls());
    ASSERT_TRUE(port.start());
    port.stop();

    EXPECT_FALSE(port.writeByte(0x378, 0xFA));
    EXPECT_THAT(FakeDirectIo::outs, IsEmpty());
    ASSERT_TRUE(port.start());
    using Permit = std::tuple<unsigned long, unsigned long, int>;
    EXPECT_THAT(FakeDirectIo::permits,
                ElementsAre(Permit{0x378, 3, 1}, Permit{0x278, 3, 1}, Permit{0x378, 3, 0},
                            Permit{0x278, 3, 0}, Permit{0x378, 3, 1}, Permit{0x278, 3, 1}));
}

TEST(PortIoChoice, AutoWithoutAParportDeviceFailsToStartWithThatReason) {
    FakeParportTree tree;
    PortIoChoice choice = makePortIo("auto", tree.paths());

    ASSERT_NE(choice.port, nullptr);
    EXPECT_FALSE(choice.port->start());
    EXPECT_EQ(choice.port->fault(), "no parallel port device (" +
                                        (tree.paths().devDir / "parport*").string() +
                                        ") found: " + std::string(kNoParportAdvice));
    const std::string startFault = choice.port->fault();
    std::uint8_t value = 7;
    EXPECT_FALSE(choice.port->writeByte(0x378, 0xFA));
    EXPECT_FALSE(choice.port->readByte(0x379, value));
    EXPECT_EQ(value, 0u);
    EXPECT_EQ(choice.port->fault(), startFault);
}

TEST(PortIoChoice, EachKnownValueGivesItsBackEnd) {
    FakeParportTree tree;
    tree.addDeviceFile("parport2");

    EXPECT_NE(dynamic_cast<PpdevPort*>(makePortIo("auto", tree.paths()).port.get()), nullptr);
    EXPECT_NE(dynamic_cast<PpdevPort*>(makePortIo("ppdev").port.get()), nullptr);
    EXPECT_NE(dynamic_cast<DirectPort*>(makePortIo("direct").port.get()), nullptr);

    PortIoChoice socket = makePortIo("unix:/nonexistent/port.sock");
    ASSERT_NE(dynamic_cast<SocketPort*>(socket.port.get()), nullptr);
    EXPECT_FALSE(socket.port->start());
    EXPECT_THAT(socket.port->fault(), HasSubstr("/nonexistent/port.sock"));

    // An adapter that is not there is told by what was looked for (a build without libftdi1
    // says it has no FTDI support instead).
    PortIoChoice adapter = makePortIo("ftdi:s:NO-SUCH-SERIAL");
    if (adapter.port == nullptr) {
        EXPECT_THAT(adapter.error, HasSubstr("no FTDI support"));
    } else {
        EXPECT_FALSE(adapter.port->start());
        EXPECT_THAT(adapter.port->fault(),
                    HasSubstr("no access to the adapter \"s:NO-SUCH-SERIAL\""));
    }
}

TEST(PortIoChoice, UnknownValuesGiveAnErrorAndNoBackEnd) {
    for (const char* value : {"", "emulator", "PPDEV", "lpt1", "unix:", "unix"}) {
        PortIoChoice choice = makePortIo(value);
        EXPECT_EQ(choice.port, nullptr) << value;
        EXPECT_THAT(choice.error, ::testing::Not(IsEmpty())) << value;
    }
    EXPECT_THAT(makePortIo("lpt1").error, HasSubstr("\"lpt1\""));
}

// The test fake's fault injection, which the link and window tests rely on.
TEST(RecordingPortFaults, FailFromTheGivenAccessUntilASuccessfulRestart) {
    RecordingPort port;
    ASSERT_TRUE(port.start());
    port.failFrom(2, "port gone");
    port.setRestartResult(false, "still gone");
    std::uint8_t value = 9;

    EXPECT_TRUE(port.writeByte(0x378, 0xF8));
    EXPECT_TRUE(port.readByte(0x379, value));
    EXPECT_FALSE(port.writeByte(0x378, 0xF9));
    EXPECT_FALSE(port.readByte(0x379, value));
    EXPECT_EQ(value, 0u);
    EXPECT_EQ(port.fault(), "port gone");
    EXPECT_FALSE(port.start());
    EXPECT_EQ(port.fault(), "still gone");
    EXPECT_FALSE(port.writeByte(0x378, 0xFA));
    port.setRestartResult(true);
    EXPECT_TRUE(port.start());
    EXPECT_TRUE(port.writeByte(0x378, 0xFB));

    EXPECT_EQ(port.failedAccesses(), 3u);
    EXPECT_EQ(port.restartCalls(), 2);
    EXPECT_THAT(port.writtenValues(), ElementsAre(0xF8, 0xFB));  // failed ones never reached it
}

}  // namespace
}  // namespace lpt
