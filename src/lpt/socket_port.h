// Port access through a Unix stream socket to an outside simulator (an HDL model of the
// module's SPI slave, a remote port server). The wire format, which other tools speak too:
//   write: 'w', address low byte, address high byte, value   (no answer)
//   read:  'r', address low byte, address high byte          (answer: one byte, the value)
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "lpt/one_time_notice.h"
#include "lpt/port_io.h"

namespace lpt {

class SocketPort final : public PortIo {
  public:
    static constexpr std::chrono::milliseconds kDefaultReplyLimit{2000};

    // `replyLimit` bounds both the wait for a read's answer and a send the server does not take.
    explicit SocketPort(std::string socketPath,
                        std::chrono::milliseconds replyLimit = kDefaultReplyLimit);
    ~SocketPort() override;
    SocketPort(const SocketPort&) = delete;
    SocketPort& operator=(const SocketPort&) = delete;

    // Connects; a server that is not there is a failed start.
    bool InitializeWinIo() override;
    void ShutdownWinIo() override;
    // After the link breaks (closed by the server, no answer in time) every access returns
    // false and reads give 0.
    bool SetPortVal(std::uint16_t address, std::uint32_t value, int size) override;
    bool GetPortVal(std::uint16_t address, std::uint32_t& value, int size) override;
    std::string failureReason() const override { return failureReason_; }

  private:
    bool sendAll(const std::uint8_t* bytes, std::size_t count);
    void breakLink(const std::string& what, int error);

    std::string socketPath_;
    std::chrono::milliseconds replyLimit_;
    int fd_ = -1;
    std::string failureReason_;
    OneTimeNotice brokenNotice_;
};

}  // namespace lpt
