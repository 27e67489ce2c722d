// Port access through the Linux ppdev driver: one /dev/parportN per port, claimed for the whole
// run. A write to a port's data register becomes PPWDATA, a read of its status register
// PPRSTATUS; the driver does the I/O, so no root is needed, only access to the device file.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <string>

#include "lpt/one_time_notice.h"
#include "protocol/port_io.h"

namespace lpt {

// Where the system describes and offers its parallel ports; tests point these at a fake tree.
struct ParportPaths {
    std::filesystem::path procRoot = "/proc/sys/dev/parport";  // parportN/base-addr
    std::filesystem::path devDir = "/dev";                     // parportN
};

// What a user without a parallel port device can do.
inline constexpr std::string_view kNoParportAdvice =
    "load the parport_pc and ppdev modules (sudo modprobe parport_pc ppdev), or use "
    "--port-io=unix:PATH or --emulator";

// The device file of the port whose data register is at `base`: the parportN whose base-addr
// (first number, decimal) is `base`, else the usual numbering (0x378 -> parport0, 0x278 ->
// parport1). Empty for any other address.
std::filesystem::path parportDeviceFor(std::uint16_t base, const ParportPaths& paths);

// The operator-facing text for a failed `action` ("open", "claim") on `device`, with what the
// user can do about the common causes.
std::string parportFailureText(std::string_view action, const std::filesystem::path& device,
                               int error);

// The system calls ppdev rests on, replaceable so that tests can watch the ioctls.
struct PpdevCalls {
    std::function<int(const char* path, int flags)> open;
    std::function<int(int fd, unsigned long request, void* argument)> ioctl;
    std::function<int(int fd)> close;
    static PpdevCalls system();
};

class PpdevPort final : public protocol::PortIo {
  public:
    explicit PpdevPort(ParportPaths paths = {}, PpdevCalls calls = PpdevCalls::system());
    ~PpdevPort() override;
    PpdevPort(const PpdevPort&) = delete;
    PpdevPort& operator=(const PpdevPort&) = delete;

    // Opens and claims LPT1's device, the port the program starts on. LPT2's device is opened
    // on its first access, so a machine with a single port starts cleanly.
    bool start() override;
    void stop() override;
    // Only a port's data register can be written and only its status register read; anything
    // else, and any access to a port that could not be had, returns false.
    bool writeByte(std::uint16_t address, std::uint8_t value) override;
    bool readByte(std::uint16_t address, std::uint8_t& value) override;
    std::string fault() const override { return fault_; }

  private:
    // One claimed device; after a failure it stays closed until the next start.
    struct Device {
        std::filesystem::path path;
        int fd = -1;
        bool failed = false;
        std::string failure;  // why, once failed
        OneTimeNotice notice;
    };

    // The device that serves the port at `base` (not opened here); null when none does.
    Device* knownDevice(std::uint16_t base);
    // The device for the port at `base`, opened on first use; null, with fault_ saying why,
    // when it cannot be had.
    Device* usableDevice(std::uint16_t base);
    // Opens and claims; on failure returns the reason and leaves the device failed.
    std::string openAndClaim(Device& device);
    // An ioctl on a claimed device; a failure gives up the device with one line on stderr.
    bool deviceIoctl(Device& device, unsigned long request, void* argument, const char* what);
    void closeDevice(Device& device);

    ParportPaths paths_;
    PpdevCalls calls_;
    std::map<std::filesystem::path, Device> devices_;  // by device file
    std::map<std::uint16_t, Device*> byBase_;          // data-register address -> device or null
    bool started_ = false;
    std::string fault_;
};

}  // namespace lpt
