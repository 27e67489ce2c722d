#include "frames/frame_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace frames {

namespace {

constexpr char kViewFolderTemplate[] = "/camera-frame-XXXXXX";
constexpr char kViewFileName[] = "/tmp000";

// Writes all of `bytes` to `fd`, through short writes and signals; then closes it.
std::optional<std::string> writeAllAndClose(int fd, std::span<const std::uint8_t> bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            const int saved = errno;
            ::close(fd);
            return std::string(std::strerror(saved));
        }
        done += static_cast<std::size_t>(n);
    }
    if (::close(fd) != 0) {
        return std::string(std::strerror(errno));
    }
    return std::nullopt;
}

bool isPrivateFolder(const char* path) {
    struct stat st {};
    return path != nullptr && *path != '\0' && ::stat(path, &st) == 0 && S_ISDIR(st.st_mode) &&
           st.st_uid == ::getuid() && (st.st_mode & 077) == 0;
}

}  // namespace

std::optional<std::string> writeFrameFile(const std::string& path,
                                          std::span<const std::uint8_t> bytes) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) {
        return std::string(std::strerror(errno));
    }
    return writeAllAndClose(fd, bytes);
}

std::string PrivateFrameFile::baseFolder() {
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); isPrivateFolder(runtime)) {
        return runtime;
    }
    if (const char* tmp = std::getenv("TMPDIR"); tmp != nullptr && *tmp != '\0') {
        return tmp;
    }
    return "/tmp";
}

std::unique_ptr<PrivateFrameFile> PrivateFrameFile::write(std::span<const std::uint8_t> bytes,
                                                          std::string& error) {
    // mkdtemp makes a new folder with a random name and mode 0700, failing rather than reusing
    // anything that exists.
    std::string folderTemplate = baseFolder() + kViewFolderTemplate;
    std::vector<char> buffer(folderTemplate.begin(), folderTemplate.end());
    buffer.push_back('\0');
    if (::mkdtemp(buffer.data()) == nullptr) {
        error = folderTemplate + ": " + std::strerror(errno);
        return nullptr;
    }
    std::string folder(buffer.data());
    std::string path = folder + kViewFileName;

    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
        error = path + ": " + std::strerror(errno);
        ::rmdir(folder.c_str());
        return nullptr;
    }
    // From here the destructor cleans up, also when the write fails.
    std::unique_ptr<PrivateFrameFile> file(
        new PrivateFrameFile(std::move(folder), std::move(path)));
    if (auto failure = writeAllAndClose(fd, bytes)) {
        error = file->path() + ": " + *failure;
        return nullptr;
    }
    return file;
}

PrivateFrameFile::PrivateFrameFile(std::string folder, std::string path)
    : folder_(std::move(folder)), path_(std::move(path)) {}

PrivateFrameFile::~PrivateFrameFile() {
    ::unlink(path_.c_str());
    ::rmdir(folder_.c_str());
}

}  // namespace frames
