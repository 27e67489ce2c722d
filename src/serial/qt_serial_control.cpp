#include "serial/qt_serial_control.h"

#include <unistd.h>

#include <utility>

#include "serial/line_settings.h"

namespace serial {

namespace {
constexpr char kDevicePrefix[] = "/dev/ttyS";
}  // namespace

PortMap::PortMap() {
    for (int n = 1; n <= kPortCount; ++n) {
        devices_[static_cast<std::size_t>(n - 1)] = kDevicePrefix + std::to_string(n - 1);
    }
}

void PortMap::assign(int portNumber, std::string device) {
    if (portNumber >= 1 && portNumber <= kPortCount) {
        devices_[static_cast<std::size_t>(portNumber - 1)] = std::move(device);
    }
}

std::string PortMap::deviceOf(int portNumber) const {
    if (portNumber < 1 || portNumber > kPortCount) {
        return {};
    }
    return devices_[static_cast<std::size_t>(portNumber - 1)];
}

QtSerialControl::QtSerialControl(PortMap ports) : ports_(std::move(ports)) {}

QtSerialControl::~QtSerialControl() {
    close();
}

bool QtSerialControl::applyLine(std::uint32_t baud) {
    // Custom rates (14400, 28800) are set by Qt through the kernel's arbitrary-rate request.
    return port_->setBaudRate(static_cast<qint32>(baud)) &&
           port_->setDataBits(QSerialPort::Data8) && port_->setParity(QSerialPort::NoParity) &&
           port_->setStopBits(QSerialPort::OneStop) &&
           port_->setFlowControl(QSerialPort::NoFlowControl);
}

bool QtSerialControl::setBaud(std::uint32_t baud) {
    if (baud == 0) {
        return false;
    }
    if (isOpen()) {
        // A refused rate must not leave a half-set line behind: go back to the one in force.
        const qint32 before = port_->baudRate();
        if (!applyLine(baud)) {
            port_->setBaudRate(before);
            port_->clearError();
            return false;
        }
    }
    // A closed line takes the speed at its next open.
    baud_ = baud;
    return true;
}

std::optional<OpenFailure> QtSerialControl::open() {
    if (isOpen()) {
        return std::nullopt;
    }
    const std::string device = ports_.deviceOf(portNumber_);
    // Made here, so that it belongs to the thread that talks to the line.
    port_ = std::make_unique<QSerialPort>();
    QObject::connect(port_.get(), &QSerialPort::errorOccurred, port_.get(),
                     [this](QSerialPort::SerialPortError error) { noteError(error); });
    QObject::connect(port_.get(), &QSerialPort::readyRead, port_.get(),
                     [this] { tellLineEvent(); });
    port_->setPortName(QString::fromStdString(device));
    faultReported_ = false;
    deviceLost_ = false;
    pendingFault_.reset();
    opening_ = true;
    const bool opened = port_->open(QIODevice::ReadWrite);
    opening_ = false;
    if (!opened) {
        const QSerialPort::SerialPortError error = port_->error();
        OpenFailure failure{OpenFault::Other, device, port_->errorString().toStdString()};
        port_.reset();
        if (error == QSerialPort::DeviceNotFoundError) {
            failure.fault = OpenFault::NotFound;
        } else if (error == QSerialPort::PermissionError) {
            // Qt says "permission" for a device it may open but that another program holds too.
            failure.fault = access(device.c_str(), R_OK | W_OK) == 0 ? OpenFault::Busy
                                                                     : OpenFault::NoPermission;
        }
        return failure;
    }
    if (!applyLine(baud_)) {
        OpenFailure failure{OpenFault::SettingsRefused, device, port_->errorString().toStdString()};
        port_.reset();
        return failure;
    }
    return std::nullopt;
}

void QtSerialControl::close() {
    if (port_ != nullptr) {
        port_->close();
        port_.reset();
    }
}

void QtSerialControl::output(std::span<const std::uint8_t> bytes) {
    if (!isOpen() || bytes.empty()) {
        return;
    }
    port_->write(reinterpret_cast<const char*>(bytes.data()), static_cast<qint64>(bytes.size()));
    // Hand the bytes to the system now, not at the next turn of an event loop: a speed change
    // that follows must find them already on their way at the old speed.
    port_->flush();
}

void QtSerialControl::takeInArrived() {
    // On a thread whose event loop runs, QSerialPort's own notifier takes the bytes in; a look
    // there would race it.
    if (!readOnLook_ || !isOpen() || deviceLost_) {
        return;
    }
    if (!port_->waitForReadyRead(0) && port_ != nullptr &&
        port_->error() == QSerialPort::TimeoutError) {
        port_->clearError();  // nothing had come: no fault of the line
    }
}

std::size_t QtSerialControl::inBufferCount() {
    takeInArrived();
    return receivedBeforeLoss_.size() +
           (isOpen() ? static_cast<std::size_t>(port_->bytesAvailable()) : 0);
}

std::vector<std::uint8_t> QtSerialControl::input() {
    takeInArrived();
    std::vector<std::uint8_t> taken = std::exchange(receivedBeforeLoss_, {});
    if (isOpen() && port_->bytesAvailable() > 0) {
        const QByteArray received = port_->readAll();
        taken.insert(taken.end(), received.begin(), received.end());
    }
    return taken;
}

void QtSerialControl::noteError(QSerialPort::SerialPortError error) {
    // Open failures are answered by open(); a time-out is no fault of the line.
    if (opening_ || error == QSerialPort::NoError || error == QSerialPort::TimeoutError) {
        return;
    }
    // Qt passes on the words of whichever call met a hang-up first, often an ioctl's
    // "Inappropriate ioctl for device": the fault says the line is gone, those words after it.
    const bool gone = error == QSerialPort::ResourceError || error == QSerialPort::ReadError;
    LineFault fault{gone, port_->errorString().toStdString()};
    port_->clearError();
    noteFault(std::move(fault));
}

void QtSerialControl::noteFault(LineFault fault) {
    if (fault.hungUp && !deviceLost_) {
        // The device went away (a USB adapter unplugged, the far end of a pseudo-terminal
        // closed): every later read fails at once, so left open the port would report in a busy
        // loop. It is closed once Qt's own read handling has returned (or at the next look at
        // the line's faults, on a thread without an event loop), and sends do nothing until the
        // operator opens a port again.
        deviceLost_ = true;
        QMetaObject::invokeMethod(
            port_.get(), [this] { closeLostDevice(); }, Qt::QueuedConnection);
    }
    if (!faultReported_) {
        faultReported_ = true;
        pendingFault_ = std::move(fault);
        tellLineEvent();
    }
}

void QtSerialControl::closeLostDevice() {
    if (deviceLost_) {
        deviceLost_ = false;
        // What the line delivered before it went away came from the module: closing would drop
        // Qt's read buffer, so it is kept to be taken like any other received bytes.
        const QByteArray received = port_->readAll();
        receivedBeforeLoss_.insert(receivedBeforeLoss_.end(), received.begin(), received.end());
        close();
    }
}

std::optional<LineFault> QtSerialControl::takeLineFault() {
    closeLostDevice();
    return std::exchange(pendingFault_, std::nullopt);
}

}  // namespace serial
