#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QTemporaryDir>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <numeric>
#include <set>

#include "frames/frame_file.h"
#include "frames/frame_store.h"

using frames::FrameStore;
using frames::PrivateFrameFile;

namespace {
std::vector<std::uint8_t> readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}
}  // namespace

TEST(FrameStore, AppendsAtTheCounterAndStopsAtCapacity) {
    FrameStore store;
    EXPECT_EQ(store.count(), 0u);
    std::vector<std::uint8_t> chunk(40000, 0x5A);
    EXPECT_EQ(store.storeAll(chunk), 40000u);
    EXPECT_EQ(store.storeAll(chunk), FrameStore::kCapacity - 40000);
    EXPECT_EQ(store.count(), 65536u);  // more than a 16-bit counter can hold
    EXPECT_FALSE(store.store(1));
    EXPECT_EQ(store.count(), 65536u);
    EXPECT_EQ(store.frame().size(), 65536u);
}

TEST(FrameStore, ClearZeroesEverythingResetCountKeepsBytes) {
    FrameStore store;
    store.store(7);
    store.store(9);
    store.resetCount();
    EXPECT_EQ(store.count(), 0u);
    EXPECT_EQ(store.wholeBuffer()[1], 9);
    store.store(1);
    store.clear();
    EXPECT_EQ(store.count(), 0u);
    const auto all = store.wholeBuffer();
    EXPECT_EQ(all.size(), 65536u);
    EXPECT_EQ(std::accumulate(all.begin(), all.end(), 0u), 0u);
}

TEST(FrameFile, EveryByteValueSurvivesAndLengthIsExact) {
    QTemporaryDir dir;
    const std::string path = dir.filePath("frame.jpg").toStdString();
    std::vector<std::uint8_t> bytes;
    for (int round = 0; round < 3; ++round) {
        for (int v = 0; v < 256; ++v) {
            bytes.push_back(static_cast<std::uint8_t>(v));  // 10, 13 and 26 included
        }
    }
    EXPECT_FALSE(frames::writeFrameFile(path, bytes).has_value());
    EXPECT_EQ(readFile(path), bytes);

    // A longer old file is cut to the new length.
    const std::vector<std::uint8_t> shorter(5, 0xEE);
    EXPECT_FALSE(frames::writeFrameFile(path, shorter).has_value());
    EXPECT_EQ(readFile(path), shorter);

    EXPECT_FALSE(frames::writeFrameFile(path, {}).has_value());
    EXPECT_EQ(std::filesystem::file_size(path), 0u);
}

// A failed save leaves the folder as it was: the old file whole, no temporary file beside it.
class FrameFileSave : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(dir_.isValid());
        writeOld();
    }
    void writeOld() {
        std::ofstream(target(), std::ios::binary) << std::string(old_.begin(), old_.end());
    }
    std::string folder() const { return dir_.path().toStdString(); }
    std::string target() const { return folder() + "/frame.jpg"; }
    std::set<std::string> names() const {
        std::set<std::string> all;
        for (const auto& e : std::filesystem::directory_iterator(folder())) {
            all.insert(e.path().filename().string());
        }
        return all;
    }
    void expectOldFileOnly() const {
        EXPECT_EQ(readFile(target()), old_);
        EXPECT_EQ(names(), std::set<std::string>{"frame.jpg"});
    }

    QTemporaryDir dir_;
    const std::vector<std::uint8_t> old_ = std::vector<std::uint8_t>(3000, 0x11);
    const std::vector<std::uint8_t> frame_ = std::vector<std::uint8_t>(2500, 0x22);
};

// Write calls that act out a disk: each one looks at how much the file holds already.
template <off_t kRoom>
ssize_t diskFullAt(int fd, const void* data, std::size_t size) {
    const off_t at = ::lseek(fd, 0, SEEK_CUR);
    if (at >= kRoom) {
        errno = ENOSPC;
        return -1;
    }
    return ::write(fd, data, std::min<std::size_t>(size, static_cast<std::size_t>(kRoom - at)));
}
ssize_t takesNothing(int, const void*, std::size_t) {
    return 0;
}
ssize_t sevenBytesAndSignals(int fd, const void* data, std::size_t size) {
    static bool interrupt = false;
    interrupt = !interrupt;
    if (interrupt) {
        errno = EINTR;
        return -1;
    }
    return ::write(fd, data, std::min<std::size_t>(size, 7));
}

TEST_F(FrameFileSave, AFullDiskKeepsTheOldFileByteForByte) {
    const struct {
        const char* name;
        frames::WriteCall write;
    } cases[] = {
        {"full at once", diskFullAt<0>},
        {"full after part of the frame", diskFullAt<1000>},
        {"takes nothing, says nothing", takesNothing},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(frames::writeFrameFile(target(), frame_, c.write), std::strerror(ENOSPC));
        expectOldFileOnly();
    }
}

TEST_F(FrameFileSave, ShortAndInterruptedWritesStillWriteEveryByte) {
    EXPECT_EQ(frames::writeFrameFile(target(), frame_, sevenBytesAndSignals), std::nullopt);
    EXPECT_EQ(readFile(target()), frame_);
    EXPECT_EQ(names(), std::set<std::string>{"frame.jpg"});
}

// A kill while the bytes go out or are synced leaves nothing beside the target: the new file has
// no name in the folder until it is whole.
std::string watchedFolder;
std::set<std::string> namesWhileWriting;
ssize_t lookingAtTheFolder(int fd, const void* data, std::size_t size) {
    for (const auto& e : std::filesystem::directory_iterator(watchedFolder)) {
        namesWhileWriting.insert(e.path().filename().string());
    }
    return ::write(fd, data, size);
}

TEST_F(FrameFileSave, TheNewFileHasNoNameWhileItsBytesGoOut) {
    watchedFolder = folder();
    EXPECT_EQ(frames::writeFrameFile(target(), frame_, lookingAtTheFolder), std::nullopt);
    EXPECT_EQ(namesWhileWriting, std::set<std::string>{"frame.jpg"});
    EXPECT_EQ(readFile(target()), frame_);
}

// Root writes into any folder, so as root the save runs in a child that has become "nobody".
std::optional<std::string> saveWithoutRoot(const std::string& path) {
    if (::geteuid() != 0) {
        return frames::writeFrameFile(path, {});
    }
    int pipe[2];
    if (::pipe(pipe) != 0) {
        return "no pipe";
    }
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(pipe[0]);
        std::string result = "setuid failed";
        if (::setgid(65534) == 0 && ::setuid(65534) == 0) {
            result = frames::writeFrameFile(path, {}).value_or("");
        }
        [[maybe_unused]] auto n = ::write(pipe[1], result.data(), result.size());
        ::_exit(0);
    }
    ::close(pipe[1]);
    std::string result;
    char chunk[256];
    for (ssize_t n; (n = ::read(pipe[0], chunk, sizeof chunk)) > 0;) {
        result.append(chunk, static_cast<std::size_t>(n));
    }
    ::close(pipe[0]);
    ::waitpid(child, nullptr, 0);
    return result.empty() ? std::nullopt : std::optional(result);
}

TEST_F(FrameFileSave, AnUnusableTargetIsRefusedWithTheReasonAndNothingLeftBehind) {
    // "locked" is a folder nobody but root may write into; the others are reached by all.
    ASSERT_EQ(::chmod(folder().c_str(), 0755), 0);
    std::filesystem::create_directory(folder() + "/locked");
    ASSERT_EQ(::chmod((folder() + "/locked").c_str(), 0555), 0);
    std::filesystem::create_directory(folder() + "/a folder");
    std::filesystem::create_symlink("loop", folder() + "/loop");
    ASSERT_EQ(::mkfifo((folder() + "/pipe").c_str(), 0666), 0);
    const auto before = names();
    const struct {
        const char* name;
        int reason;
    } cases[] = {
        {"missing/frame.jpg", ENOENT},
        {"a folder", EISDIR},
        {"locked/frame.jpg", EACCES},
        {"loop", ELOOP},
        {"pipe", EINVAL},  // never opened: no reader would ever come
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(saveWithoutRoot(folder() + "/" + c.name), std::strerror(c.reason));
        EXPECT_EQ(names(), before);
        EXPECT_TRUE(std::filesystem::is_empty(folder() + "/locked"));
        EXPECT_TRUE(std::filesystem::is_empty(folder() + "/a folder"));
    }
    EXPECT_EQ(readFile(target()), old_);
}

// A pseudo-terminal of the test's own stands for any character device: were it replaced, a
// system device like /dev/null would be too (and devpts refuses the new file, so nothing breaks).
TEST(FrameFile, ADeviceIsWrittenInPlaceAndNeverReplaced) {
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_EQ(::grantpt(master), 0);
    ASSERT_EQ(::unlockpt(master), 0);
    const std::string terminal = ::ptsname(master);
    const int held = ::open(terminal.c_str(), O_RDWR | O_NOCTTY);  // kept open while it is read
    ASSERT_GE(held, 0);
    const std::vector<std::uint8_t> frame(100, 0x33);  // no line end for the terminal to turn

    EXPECT_EQ(frames::writeFrameFile(terminal, frame), std::nullopt);
    std::vector<std::uint8_t> arrived(frame.size());
    std::size_t got = 0;
    for (pollfd p{master, POLLIN, 0}; got < arrived.size() && ::poll(&p, 1, 2000) > 0;) {
        const ssize_t n = ::read(master, arrived.data() + got, arrived.size() - got);
        got += n > 0 ? static_cast<std::size_t>(n) : 0;
    }
    EXPECT_EQ(arrived, frame);
    EXPECT_TRUE(std::filesystem::is_character_file(terminal));
    ::close(held);
    ::close(master);
}

TEST_F(FrameFileSave, ThroughLinksTheFileAtTheEndIsReplacedAndTheLinksStay) {
    std::filesystem::create_symlink("second-link", folder() + "/first-link");
    std::filesystem::create_symlink(target(), folder() + "/second-link");
    std::filesystem::create_symlink("new.jpg", folder() + "/dangling-link");

    ASSERT_EQ(frames::writeFrameFile(folder() + "/first-link", frame_), std::nullopt);
    EXPECT_EQ(readFile(target()), frame_);
    ASSERT_EQ(frames::writeFrameFile(folder() + "/dangling-link", old_), std::nullopt);
    EXPECT_EQ(readFile(folder() + "/new.jpg"), old_);

    for (const char* link : {"first-link", "second-link", "dangling-link"}) {
        EXPECT_TRUE(std::filesystem::is_symlink(folder() + "/" + link)) << link;
    }
    EXPECT_EQ(names().size(), 5u);  // the two files and the three links, nothing else
}

TEST_F(FrameFileSave, TheNewFileHasTheModeOfAnyNewFile) {
    const mode_t saved = ::umask(027);
    const auto failure = frames::writeFrameFile(folder() + "/new.jpg", frame_);
    ::umask(saved);
    ASSERT_EQ(failure, std::nullopt);
    struct stat st {};
    ASSERT_EQ(::stat((folder() + "/new.jpg").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);  // not the 0600 of a private temporary file
}

TEST(PrivateFrameFile, PrivateFolderExactBytesAndGoneAfterwards) {
    QTemporaryDir base;
    qputenv("XDG_RUNTIME_DIR", "");
    qputenv("TMPDIR", base.path().toLocal8Bit());
    const std::vector<std::uint8_t> bytes = {0xFF, 0xD8, 0x00, 0x0A, 0x0D, 0x1A, 0xFF, 0xD9};
    std::string path;
    std::string folder;
    {
        std::string error;
        auto file = PrivateFrameFile::write(bytes, error);
        ASSERT_TRUE(file) << error;
        path = file->path();
        folder = std::filesystem::path(path).parent_path();
        EXPECT_EQ(readFile(path), bytes);
        struct stat st {};
        ASSERT_EQ(::stat(folder.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0700u);
        EXPECT_EQ(folder.rfind(base.path().toStdString(), 0), 0u);

        // A second view's copy is a different file: the two never share a name.
        auto other = PrivateFrameFile::write(bytes, error);
        ASSERT_TRUE(other);
        EXPECT_NE(other->path(), path);
    }
    EXPECT_FALSE(std::filesystem::exists(path));
    EXPECT_FALSE(std::filesystem::exists(folder));
    EXPECT_TRUE(std::filesystem::is_empty(base.path().toStdString()));
    qunsetenv("TMPDIR");
}

TEST(PrivateFrameFile, UnusableBaseFolderFailsCleanly) {
    qputenv("XDG_RUNTIME_DIR", "");
    qputenv("TMPDIR", "/nonexistent/folder");
    std::string error;
    EXPECT_EQ(PrivateFrameFile::write({}, error), nullptr);
    EXPECT_NE(error.find("/nonexistent/folder"), std::string::npos) << error;
    qunsetenv("TMPDIR");
}
