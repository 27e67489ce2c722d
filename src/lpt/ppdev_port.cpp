#include "lpt/ppdev_port.h"

#include <fcntl.h>
#include <linux/ppdev.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstring>
#include <fstream>

#include "lpt/pins.h"

namespace lpt {

namespace {

constexpr std::string_view kDevicePrefix = "parport";
constexpr std::string_view kBaseAddressFile = "base-addr";

// The numbering the kernel gives the two classic ISA ports when nothing else says otherwise.
std::string conventionalDeviceName(std::uint16_t base) {
    if (base == kLpt1Base) {
        return "parport0";
    }
    if (base == kLpt2Base) {
        return "parport1";
    }
    return {};
}

bool isParportName(const std::string& name) {
    if (name.size() <= kDevicePrefix.size() || !name.starts_with(kDevicePrefix)) {
        return false;
    }
    for (std::size_t i = kDevicePrefix.size(); i < name.size(); ++i) {
        if (std::isdigit(static_cast<unsigned char>(name[i])) == 0) {
            return false;
        }
    }
    return true;
}

// The file holds "base<TAB>base_hi", both decimal; only the first is the data register.
bool readBaseAddress(const std::filesystem::path& file, unsigned long& base) {
    std::ifstream in(file);
    return static_cast<bool>(in >> base);
}

}  // namespace

std::filesystem::path parportDeviceFor(std::uint16_t base, const ParportPaths& paths) {
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(paths.procRoot, error)) {
        const std::string name = entry.path().filename().string();
        unsigned long listedBase = 0;
        if (isParportName(name) && readBaseAddress(entry.path() / kBaseAddressFile, listedBase) &&
            listedBase == base) {
            return paths.devDir / name;
        }
    }
    const std::string conventional = conventionalDeviceName(base);
    return conventional.empty() ? std::filesystem::path{} : paths.devDir / conventional;
}

std::string parportFailureText(std::string_view action, const std::filesystem::path& device,
                               int error) {
    std::string text =
        "cannot " + std::string(action) + " " + device.string() + ": " + std::strerror(error);
    switch (error) {
        case EACCES:
        case EPERM:
            return text +
                   " (the user needs to be in the 'lp' group: sudo adduser $USER lp, then log in "
                   "again)";
        case ENOENT:
            return text + " (no such parallel port exists on this machine: " +
                   std::string(kNoParportAdvice) + ")";
        case ENXIO:
        case ENODEV:
            return text + " (no parallel port behind the device: " + std::string(kNoParportAdvice) +
                   ")";
        default:
            return text;
    }
}

PpdevCalls PpdevCalls::system() {
    return {[](const char* path, int flags) { return ::open(path, flags); },
            [](int fd, unsigned long request, void* argument) {
                return ::ioctl(fd, request, argument);
            },
            [](int fd) { return ::close(fd); }};
}

PpdevPort::PpdevPort(ParportPaths paths, PpdevCalls calls)
    : paths_(std::move(paths)), calls_(std::move(calls)) {}

PpdevPort::~PpdevPort() {
    stop();
}

bool PpdevPort::start() {
    stop();
    started_ = true;
    fault_.clear();
    Device* lpt1 = knownDevice(kLpt1Base);
    if (lpt1 == nullptr) {
        fault_ = "no parallel port device for address 0x378";
        return false;
    }
    // The operator hears about LPT1 through the start's failure report, not on stderr.
    fault_ = openAndClaim(*lpt1);
    return fault_.empty();
}

void PpdevPort::stop() {
    for (auto& [path, device] : devices_) {
        closeDevice(device);
    }
    devices_.clear();
    byBase_.clear();
    started_ = false;
}

bool PpdevPort::writeByte(std::uint16_t address, std::uint8_t value) {
    Device* device = usableDevice(address);
    if (device == nullptr) {
        return false;
    }
    unsigned char data = static_cast<unsigned char>(value);
    return deviceIoctl(*device, PPWDATA, &data, "data write");
}

bool PpdevPort::readByte(std::uint16_t address, std::uint8_t& value) {
    value = 0;
    if (address < kStatusOffset) {
        fault_ = "ppdev: no parallel port has its status register at " + hexAddress(address);
        return false;
    }
    Device* device = usableDevice(static_cast<std::uint16_t>(address - kStatusOffset));
    if (device == nullptr) {
        return false;
    }
    unsigned char status = 0;
    if (!deviceIoctl(*device, PPRSTATUS, &status, "status read")) {
        return false;
    }
    value = status;
    return true;
}

PpdevPort::Device* PpdevPort::knownDevice(std::uint16_t base) {
    if (auto known = byBase_.find(base); known != byBase_.end()) {
        return known->second;
    }
    // Two addresses that name one device share it: a second PPCLAIM of a port this process
    // already holds would block for good.
    const std::filesystem::path path = parportDeviceFor(base, paths_);
    Device* device = nullptr;
    if (!path.empty()) {
        device = &devices_[path];
        device->path = path;
    }
    byBase_.emplace(base, device);
    return device;
}

PpdevPort::Device* PpdevPort::usableDevice(std::uint16_t base) {
    if (!started_) {
        fault_ = "ppdev: port access is not started";
        return nullptr;
    }
    Device* device = knownDevice(base);
    if (device == nullptr) {
        fault_ = "ppdev: no parallel port device for address " + hexAddress(base) +
                 " (only the data and status registers of LPT1 and LPT2 are served)";
        return nullptr;
    }
    if (device->fd < 0 && !device->failed) {
        const std::string reason = openAndClaim(*device);
        if (!reason.empty()) {
            device->notice.say("ppdev: " + reason + "; accesses to this port are skipped");
        }
    }
    if (device->failed) {
        fault_ = "ppdev: " + device->failure;
        return nullptr;
    }
    return device;
}

std::string PpdevPort::openAndClaim(Device& device) {
    const int fd = calls_.open(device.path.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) {
        const int error = errno;
        device.failed = true;
        device.failure = parportFailureText("open", device.path, error);
        return device.failure;
    }
    if (calls_.ioctl(fd, PPCLAIM, nullptr) != 0) {
        const int error = errno;
        calls_.close(fd);
        device.failed = true;
        device.failure = parportFailureText("claim", device.path, error);
        return device.failure;
    }
    device.fd = fd;
    return {};
}

bool PpdevPort::deviceIoctl(Device& device, unsigned long request, void* argument,
                            const char* what) {
    if (calls_.ioctl(device.fd, request, argument) == 0) {
        return true;
    }
    const int error = errno;
    device.failure =
        std::string(what) + " on " + device.path.string() + " failed: " + std::strerror(error);
    fault_ = "ppdev: " + device.failure;
    device.notice.say(fault_ + "; accesses to this port are skipped");
    closeDevice(device);
    device.failed = true;
    return false;
}

void PpdevPort::closeDevice(Device& device) {
    if (device.fd < 0) {
        return;
    }
    calls_.ioctl(device.fd, PPRELEASE, nullptr);
    calls_.close(device.fd);
    device.fd = -1;
}

}  // namespace lpt
