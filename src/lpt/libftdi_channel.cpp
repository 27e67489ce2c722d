#include "lpt/libftdi_channel.h"

#ifdef CAMERA_HAVE_LIBFTDI

#include <libftdi1/ftdi.h>

#include <array>
#include <thread>

namespace lpt {

namespace {

constexpr int kFtdiVendor = 0x0403;
struct AdapterKind {
    int product;
    const char* name;
};
constexpr std::array<AdapterKind, 3> kAdapters = {
    {{0x6014, "FT232H"}, {0x6010, "FT2232H"}, {0x6011, "FT4232H"}}};
// The smallest latency timer: a held byte's answers come back at once, not after 16 ms.
constexpr unsigned char kLatencyMs = 1;
constexpr int kUsbTimeoutMs = 2000;

constexpr char kAccessAdvice[] =
    "is it plugged in, and may this user open it? The package's udev rule "
    "(/usr/lib/udev/rules.d/60-camera-tools-ftdi.rules, also in data/udev) gives the plugdev "
    "group the adapters: sudo adduser $USER plugdev, log in again, plug the adapter in anew";

}  // namespace

LibftdiChannel::LibftdiChannel(std::string selector) : selector_(std::move(selector)) {}

LibftdiChannel::~LibftdiChannel() {
    close();
    if (ftdi_ != nullptr) {
        ftdi_free(ftdi_);
    }
}

bool LibftdiChannel::open() {
    close();
    if (ftdi_ == nullptr && (ftdi_ = ftdi_new()) == nullptr) {
        error_ = "libftdi could not be set up";
        return false;
    }
    ftdi_set_interface(ftdi_, INTERFACE_A);
    int opened = -1;
    std::string lookedFor;
    if (!selector_.empty()) {
        opened = ftdi_usb_open_string(ftdi_, selector_.c_str());
        lookedFor = "the adapter \"" + selector_ + "\"";
    } else {
        for (const AdapterKind& kind : kAdapters) {
            opened =
                ftdi_usb_open_desc_index(ftdi_, kFtdiVendor, kind.product, nullptr, nullptr, 0);
            if (opened == 0) {
                break;
            }
        }
        lookedFor = "an FT232H (0403:6014), FT2232H (0403:6010) or FT4232H (0403:6011)";
    }
    if (opened != 0) {
        error_ = "no access to " + lookedFor + ": " + ftdi_get_error_string(ftdi_) + "; " +
                 kAccessAdvice;
        return false;
    }
    open_ = true;
    ftdi_->usb_read_timeout = kUsbTimeoutMs;
    ftdi_->usb_write_timeout = kUsbTimeoutMs;
    if (ftdi_usb_reset(ftdi_) != 0 || ftdi_set_latency_timer(ftdi_, kLatencyMs) != 0 ||
        ftdi_set_bitmode(ftdi_, 0, BITMODE_RESET) != 0 ||
        ftdi_set_bitmode(ftdi_, 0, BITMODE_MPSSE) != 0 || ftdi_tcioflush(ftdi_) != 0) {
        return failed("cannot put the adapter in MPSSE mode");
    }
    return true;
}

void LibftdiChannel::close() {
    if (open_) {
        ftdi_set_bitmode(ftdi_, 0, BITMODE_RESET);
        ftdi_usb_close(ftdi_);
    }
    open_ = false;
}

bool LibftdiChannel::write(std::span<const std::uint8_t> bytes) {
    if (!open_) {
        error_ = "the adapter is not open";
        return false;
    }
    std::size_t done = 0;
    while (done < bytes.size()) {
        const int n =
            ftdi_write_data(ftdi_, bytes.data() + done, static_cast<int>(bytes.size() - done));
        if (n <= 0) {
            return failed("write failed");
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

bool LibftdiChannel::read(std::span<std::uint8_t> bytes) {
    if (!open_) {
        error_ = "the adapter is not open";
        return false;
    }
    const auto end = std::chrono::steady_clock::now() + kReadLimit;
    std::size_t done = 0;
    while (done < bytes.size()) {
        const int n =
            ftdi_read_data(ftdi_, bytes.data() + done, static_cast<int>(bytes.size() - done));
        if (n < 0) {
            return failed("read failed");
        }
        done += static_cast<std::size_t>(n);
        if (done < bytes.size() && std::chrono::steady_clock::now() >= end) {
            error_ = "short read: " + std::to_string(done) + " of " + std::to_string(bytes.size()) +
                     " answers within " + std::to_string(kReadLimit.count()) + " ms";
            return false;
        }
        if (n == 0) {
            std::this_thread::yield();
        }
    }
    return true;
}

bool LibftdiChannel::failed(const std::string& what) {
    error_ = what + ": " + ftdi_get_error_string(ftdi_);
    return false;
}

}  // namespace lpt

#endif  // CAMERA_HAVE_LIBFTDI
