#include "frames/frame_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <string>
#include <utility>
#include <vector>

namespace frames {

namespace {

constexpr char kViewFolderTemplate[] = "/camera-frame-XXXXXX";
constexpr char kViewFileName[] = "/tmp000";
// A saved frame's new file is hidden beside its target until it is renamed over it.
constexpr char kSaveFilePrefix[] = ".frame-";

}  // namespace

std::optional<std::string> writeAll(int fd, std::span<const std::uint8_t> bytes, WriteCall write) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            return std::string(std::strerror(errno));
        }
        if (n == 0) {
            // A file that takes nothing and reports no error has no room left.
            return std::string(std::strerror(ENOSPC));
        }
        done += static_cast<std::size_t>(n);
    }
    return std::nullopt;
}

namespace {

// Writes all of `bytes` to `fd`, then closes it whatever happened.
std::optional<std::string> writeAllAndClose(int fd, std::span<const std::uint8_t> bytes) {
    auto failure = writeAll(fd, bytes, ::write);
    if (::close(fd) != 0 && !failure) {
        failure = std::string(std::strerror(errno));
    }
    return failure;
}

// The file a path names once every symbolic link at its end is followed; a link's relative
// target counts from the link's own folder. A link whose target does not exist yet gives that
// target, so saving through it creates the file there.
std::optional<std::string> followLinks(std::string path, std::string& error) {
    // The kernel's own limit on links in a row; a loop ends here too.
    constexpr int kMaxLinks = 40;
    for (int hops = 0; hops <= kMaxLinks; ++hops) {
        struct stat st {};
        if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) {
            return path;
        }
        std::vector<char> target(static_cast<std::size_t>(st.st_size > 0 ? st.st_size : 255) + 1);
        const ssize_t n = ::readlink(path.c_str(), target.data(), target.size());
        if (n < 0) {
            error = std::strerror(errno);
            return std::nullopt;
        }
        if (static_cast<std::size_t>(n) == target.size()) {
            continue;  // the link changed under us and grew: read it again
        }
        std::string next(target.data(), static_cast<std::size_t>(n));
        if (next.empty() || next.front() != '/') {
            const auto slash = path.rfind('/');
            next = (slash == std::string::npos ? std::string() : path.substr(0, slash + 1)) + next;
        }
        path = std::move(next);
    }
    error = std::strerror(ELOOP);
    return std::nullopt;
}

// The mode of a file made with 0666: what the umask leaves of it. Read from /proc so the umask
// never changes, even for a moment, under other threads; set and put back where /proc has no
// such line.
mode_t newFileMode() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("Umask:", 0) == 0) {
            return static_cast<mode_t>(0666 & ~std::stoul(line.substr(6), nullptr, 8));
        }
    }
    const mode_t mask = ::umask(022);
    ::umask(mask);
    return 0666 & ~mask;
}

bool isPrivateFolder(const char* path) {
    struct stat st {};
    return path != nullptr && *path != '\0' && ::stat(path, &st) == 0 && S_ISDIR(st.st_mode) &&
           st.st_uid == ::getuid() && (st.st_mode & 077) == 0;
}

// A frame's new file beside its target: its descriptor (-1 when none could be made) and its
// name, empty while it has none.
struct NewFile {
    int fd = -1;
    std::string name;
};

// A file with no name in `folder` (O_TMPFILE): a kill while its bytes go out or are synced leaves
// nothing behind. fd -1 where the file system makes no such files.
NewFile makeUnnamedFile(const std::string& folder) {
    return {::open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666), {}};
}

// A hidden file with a unique name in `folder`, for file systems without unnamed files.
NewFile makeNamedFile(const std::string& folder) {
    std::string pattern = folder + kSaveFilePrefix + "XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    const int fd = ::mkostemp(name.data(), O_CLOEXEC);
    return {fd, fd < 0 ? std::string() : std::string(name.data())};
}

// Gives the unnamed file a hidden name of its own in `folder`, the last step before the rename:
// linked through /proc, as open(2) describes. False with errno set.
bool nameUnnamedFile(NewFile& file, const std::string& folder) {
    const std::string self = "/proc/self/fd/" + std::to_string(file.fd);
    std::random_device random;
    for (int tries = 0; tries < 100; ++tries) {
        char suffix[7];
        std::snprintf(suffix, sizeof suffix, "%06x", random() & 0xFFFFFFu);
        std::string name = folder + kSaveFilePrefix + suffix;
        if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0) {
            file.name = std::move(name);
            return true;
        }
        if (errno != EEXIST) {
            return false;
        }
    }
    return false;
}

// Writes the frame's bytes into its new file, gives them the mode of a new file and syncs them.
std::optional<std::string> fillFile(int fd, std::span<const std::uint8_t> bytes, WriteCall write) {
    auto failure = writeAll(fd, bytes, write != nullptr ? write : ::write);
    // A named temporary is readable by its owner only; a saved frame gets the usual mode.
    if (!failure && ::fchmod(fd, newFileMode()) != 0) {
        failure = std::string(std::strerror(errno));
    }
    // The bytes are on the disk before the name points at them, so a crash after the rename
    // cannot leave an empty or partial file under the target's name.
    if (!failure && ::fsync(fd) != 0) {
        failure = std::string(std::strerror(errno));
    }
    return failure;
}

}  // namespace

std::optional<std::string> writeFrameFile(const std::string& path,
                                          std::span<const std::uint8_t> bytes, WriteCall write) {
    std::string error;
    const std::optional<std::string> target = followLinks(path, error);
    if (!target) {
        return error;
    }
    // Only a regular file is replaced. rename() would put a file in place of an empty folder or of
    // a device node (/dev/null, a terminal), so a character device is written in place, as any
    // program writes to it; a folder, a pipe, a socket or a disk device is refused.
    struct stat st {};
    if (::stat(target->c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
        if (S_ISDIR(st.st_mode)) {
            return std::string(std::strerror(EISDIR));
        }
        if (!S_ISCHR(st.st_mode)) {
            return std::string(std::strerror(EINVAL));
        }
        const int device = ::open(target->c_str(), O_WRONLY | O_CLOEXEC);
        if (device < 0) {
            return std::string(std::strerror(errno));
        }
        auto failure = writeAll(device, bytes, write != nullptr ? write : ::write);
        ::close(device);
        return failure;
    }

    // The new file lives in the target's folder, so the rename is within one file system and
    // replaces the target in one step: a reader sees the old file or the new one, never a mix.
    const auto slash = target->rfind('/');
    const std::string folder = slash == std::string::npos ? "./" : target->substr(0, slash + 1);
    NewFile file = makeUnnamedFile(folder);
    std::optional<std::string> failure;
    if (file.fd >= 0) {
        failure = fillFile(file.fd, bytes, write);
        if (!failure && !nameUnnamedFile(file, folder)) {
            // No /proc to link through: the bytes go again, into a named file.
            ::close(std::exchange(file.fd, -1));
        }
    }
    if (file.fd < 0) {
        file = makeNamedFile(folder);
        if (file.fd < 0) {
            return std::string(std::strerror(errno));
        }
        failure = fillFile(file.fd, bytes, write);
    }
    if (::close(file.fd) != 0 && !failure) {
        failure = std::string(std::strerror(errno));
    }
    if (!failure && ::rename(file.name.c_str(), target->c_str()) != 0) {
        failure = std::string(std::strerror(errno));
    }
    if (failure) {
        if (!file.name.empty()) {
            ::unlink(file.name.c_str());
        }
        return failure;
    }
    // Make the rename itself lasting; a folder that cannot be synced still holds the new file.
    if (const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    return std::nullopt;
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
