#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QTemporaryDir>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <numeric>

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

TEST(FrameFile, UnwritableFileGivesTheReason) {
    QTemporaryDir dir;
    const auto failure =
        frames::writeFrameFile(dir.filePath("missing/dir/frame.jpg").toStdString(), {});
    ASSERT_TRUE(failure.has_value());
    EXPECT_NE(failure->find("No such file"), std::string::npos) << *failure;
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
