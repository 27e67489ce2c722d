// Frame files: exactly the stored bytes, in order, nothing before or after them.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>

namespace frames {

// Creates `path` or empties it, writes `bytes`, closes. nullopt on success, else the system's
// reason ("Permission denied", "No space left on device", ...).
std::optional<std::string> writeFrameFile(const std::string& path,
                                          std::span<const std::uint8_t> bytes);

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
