#include "emulator/emulator_log.h"

#include <QTime>
#include <cstdio>

namespace emulator {

namespace {

// Local time of day to the millisecond: enough to read the log beside the programs' traces.
std::string timeOfDayStamp() {
    return QTime::currentTime().toString(QStringLiteral("HH:mm:ss.zzz")).toStdString();
}

std::string formatLine(const LogEntry& entry) {
    std::string line = timeOfDayStamp();
    line += ' ';
    line += logKindName(entry.kind);
    if (!entry.bytes.empty()) {
        line += ' ' + protocol::hexBytes(entry.bytes);
    }
    if (!entry.text.empty()) {
        line += " : ";
        line += entry.text;
    }
    return line;
}

}  // namespace

const char* logKindName(LogKind kind) {
    switch (kind) {
        case LogKind::RegisterWrite:
            return "write";
        case LogKind::ReadRequest:
            return "request";
        case LogKind::Command:
            return "command";
        case LogKind::FrameSent:
            return "frame";
        case LogKind::Ignored:
            return "ignored";
        case LogKind::Line:
            return "line";
    }
    return "?";
}

EmulatorLog::~EmulatorLog() {
    if (const std::uint64_t lost = recordsLost(); lost > 0) {
        std::fprintf(stderr, "emulator log %s: %llu records lost\n", path_.c_str(),
                     static_cast<unsigned long long>(lost));
    }
}

bool EmulatorLog::openFile(const std::string& path, std::string& error) {
    std::lock_guard lock(mutex_);
    file_ = protocol::LineFile::open(path, protocol::LineFile::Mode::Append, error);
    if (!file_) {
        return false;
    }
    path_ = path;
    file_->onFirstLoss([path](const std::string& reason) {
        std::fprintf(stderr, "emulator log %s: %s; records are lost until it takes them again\n",
                     path.c_str(), reason.c_str());
    });
    return true;
}

std::uint64_t EmulatorLog::recordsLost() const {
    std::lock_guard lock(mutex_);
    return file_ ? file_->linesLost() : 0;
}

void EmulatorLog::record(LogKind kind, std::vector<std::uint8_t> bytes, std::string text) {
    std::lock_guard lock(mutex_);
    entries_.push_back({kind, std::move(bytes), std::move(text)});
    if (file_) {
        file_->write(formatLine(entries_.back()));  // written at once: a killed emulator keeps it
    }
    if (entries_.size() > kMemoryLimit) {
        entries_.pop_front();
    }
}

std::vector<LogEntry> EmulatorLog::entries() const {
    std::lock_guard lock(mutex_);
    return {entries_.begin(), entries_.end()};
}

std::vector<LogEntry> EmulatorLog::entriesOf(LogKind kind) const {
    std::lock_guard lock(mutex_);
    std::vector<LogEntry> matching;
    for (const LogEntry& e : entries_) {
        if (e.kind == kind) {
            matching.push_back(e);
        }
    }
    return matching;
}

void EmulatorLog::clear() {
    std::lock_guard lock(mutex_);
    entries_.clear();
}

}  // namespace emulator
