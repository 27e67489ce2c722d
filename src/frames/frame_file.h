// Frame files: exactly the stored bytes, in order, nothing before or after them.
#pragma once

#include <sys/types.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>

namespace frames {

// The write(2) call frame files go through. A test passes one that fails or writes short to act
// out a full disk or a slow device.
using WriteCall = ssize_t (*)(int fd, const void* data, std::size_t size);

// Writes all of `bytes` to `fd` with `write`, through short writes and signals. nullopt when all
// went out, else the reason (strerror; a file that takes nothing has no room left).
std::optional<std::string> writeAll(int fd, std::span<const std::uint8_t> bytes,
                                    WriteCall write = ::write);

// Replaces the file at `path` with exactly `bytes`, never leaving it half written: the bytes go
// to a new file in the same folder, which is synced and then renamed over `path`. The new file
// has no name until it is whole (where the file system has no unnamed files, a hidden unique
// one from the start), so a kill while it is written or synced leaves nothing behind. If
// anything fails, that new file is removed and whatever `path` held stays as it was.
// A `path` that is a symbolic link (or a chain of them) is replaced where the chain ends; the
// links stay. The file gets the mode any new file gets (0666 less the umask). A character device
// (/dev/null) is written in place, never replaced; a folder, pipe, socket or disk is refused.
// nullopt on success, else the system's reason (strerror: "No space left on device", "Is a
// directory", "Permission denied", ...). `write` is the call used for the bytes; nullptr is
// write(2).
std::optional<std::string> writeFrameFile(const std::string& path,
                                          std::span<const std::uint8_t> bytes,
                                          WriteCall write = nullptr);

// The view's temporary copy of the frame. It lives in a folder of its own with a random name,
// readable by this user only, and the file is created exclusively and never through a link: a
// name planted by another user in a shared folder cannot redirect the write. Destroying the
// object deletes the file and its folder.
class PrivateFrameFile {
  public:
    // nullptr when the folder or the file cannot be made or written; `error` says why.
    static std::unique_ptr<PrivateFrameFile> write(std::span<const std::uint8_t> bytes,
                                                   std::string& error);
    ~PrivateFrameFile();
    PrivateFrameFile(const PrivateFrameFile&) = delete;
    PrivateFrameFile& operator=(const PrivateFrameFile&) = delete;

    const std::string& path() const { return path_; }

    // Where the private folders are made: $XDG_RUNTIME_DIR when it is usable, else $TMPDIR,
    // else /tmp.
    static std::string baseFolder();

  private:
    PrivateFrameFile(std::string folder, std::string path);
    std::string folder_;
    std::string path_;
};

}  // namespace frames
