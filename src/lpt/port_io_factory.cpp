#include "lpt/port_io_factory.h"

#include "lpt/direct_port.h"
#include "lpt/ftdi_port.h"
#include "lpt/libftdi_channel.h"
#include "lpt/socket_port.h"

namespace lpt {

namespace {

constexpr std::string_view kSocketPrefix = "unix:";
constexpr std::string_view kFtdiChoice = "ftdi";

// Stands in when there is no port to drive: the start fails with the reason, and every access
// fails with it as its fault.
class UnavailablePort final : public protocol::PortIo {
  public:
    explicit UnavailablePort(std::string reason) : reason_(std::move(reason)) {}
    bool start() override { return false; }
    void stop() override {}
    bool writeByte(std::uint16_t, std::uint8_t) override { return false; }
    bool readByte(std::uint16_t, std::uint8_t& value) override {
        value = 0;
        return false;
    }
    std::string fault() const override { return reason_; }

  private:
    std::string reason_;
};

bool anyParportDevice(const std::filesystem::path& devDir) {
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(devDir, error)) {
        if (entry.path().filename().string().starts_with("parport")) {
            return true;
        }
    }
    return false;
}

}  // namespace

PortIoChoice makePortIo(std::string_view choice, const ParportPaths& paths) {
    if (choice == "auto") {
        if (anyParportDevice(paths.devDir)) {
            return {std::make_unique<PpdevPort>(paths), {}};
        }
        return {std::make_unique<UnavailablePort>("no parallel port device (" +
                                                  (paths.devDir / "parport*").string() +
                                                  ") found: " + std::string(kNoParportAdvice)),
                {}};
    }
    if (choice == "ppdev") {
        return {std::make_unique<PpdevPort>(paths), {}};
    }
    if (choice == "direct") {
        return {std::make_unique<DirectPort>(), {}};
    }
    if (choice.starts_with(kSocketPrefix)) {
        const std::string_view socketPath = choice.substr(kSocketPrefix.size());
        if (socketPath.empty()) {
            return {nullptr, "--port-io=unix: needs a socket path, as in unix:/tmp/port.sock"};
        }
        return {std::make_unique<SocketPort>(std::string(socketPath)), {}};
    }
    if (choice == kFtdiChoice || choice.starts_with(std::string(kFtdiChoice) + ":")) {
#ifdef CAMERA_HAVE_LIBFTDI
        const std::string selector(choice.substr(std::min(choice.size(), kFtdiChoice.size() + 1)));
        return {std::make_unique<FtdiPort>(
                    std::make_unique<LibftdiChannel>(selector),
                    selector.empty() ? "FTDI adapter" : "FTDI adapter " + selector),
                {}};
#else
        return {nullptr,
                "--port-io=ftdi: this build has no FTDI support (libftdi1 was not found "
                "when it was built)"};
#endif
    }
    return {nullptr, "unknown port I/O back-end \"" + std::string(choice) +
                         "\" (expected auto, ppdev, direct, unix:PATH or ftdi[:SELECTOR])"};
}

}  // namespace lpt
