#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include <gtest/gtest.h>

#include "app/settings.h"
#include "common/data_value.h"
#include "support/scratch_dir.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

// File references are relative to the current directory: each test runs
// inside its own scratch directory.
class FileReference : public ::testing::Test {
protected:
    void SetUp() override
    {
        previous_ = std::filesystem::current_path();
        std::filesystem::current_path(scratch_.path());
        scratch_.Write("abc", std::string("\x01\x02\x03", 3));
        scratch_.Write("a b", "xy");
        scratch_.Write("a'b", "q");
        scratch_.Write("empty", "");
        scratch_.Write("high", "\xFF\x80");
        std::filesystem::create_directory(scratch_.path() / "dir");
        default_base = 16;
    }
    void TearDown() override
    {
        std::filesystem::current_path(previous_);
        default_base = 16;
    }

    ScratchDir scratch_;
    std::filesystem::path previous_;
};

struct FileCase {
    std::string text;
    bool single;
    bool valid;
    Bytes bytes;
    std::uint32_t first;
};

void Check(const std::vector<FileCase> &cases)
{
    for (const FileCase &c : cases) {
        SCOPED_TRACE("text [" + c.text + "]" + (c.single ? " single" : " list"));
        const std::optional<DataValue> result = CreateDataFromString(c.text, c.single);
        ASSERT_EQ(result.has_value(), c.valid);
        if (c.valid) {
            EXPECT_EQ(result->bytes, c.bytes);
            EXPECT_EQ(result->first_value, c.first);
        }
    }
}

TEST_F(FileReference, BytesOfTheFileInOrder)
{
    Check({
        {"-abc", false, true, {1, 2, 3}, 1},
        {"-abc 5", false, true, {1, 2, 3, 5}, 1},
        {"-abc 0b1 'z'", false, true, {1, 2, 3, 1, 0x7A}, 1},
        {"12 -abc", false, true, {0x12, 1, 2, 3}, 0x12},
        {"-abc -abc", false, true, {1, 2, 3, 1, 2, 3}, 1},
        {"-high", false, true, {0xFF, 0x80}, 0xFF},
        {"-a'b", false, true, {0x71}, 0x71},        // unquoted names run to white space
        {"  -abc\t", true, true, {1, 2, 3}, 1},
    });
}

TEST_F(FileReference, QuotedNames)
{
    Check({
        {"-'a b'", false, true, {0x78, 0x79}, 0x78},
        {"-\"a b`", false, true, {0x78, 0x79}, 0x78},
        {"-'abc'7", false, true, {1, 2, 3, 7}, 1},
        {"-'abc'7 8", false, true, {1, 2, 3, 7, 8}, 1},
        {"-'empty'123", false, true, {0x23}, 0x123},
        {"-'abc'", true, true, {1, 2, 3}, 1},
        {"-'abc'x", false, false, {}, 0},
        {"-'abc''", false, false, {}, 0},
        {"-''", false, false, {}, 0},
        {"12 -''", false, false, {}, 0},
        {"-'abc", false, false, {}, 0},
        {"-'a b", false, false, {}, 0},
    });
}

TEST_F(FileReference, EmptyFilesContributeNothing)
{
    Check({
        {"-empty", false, true, {}, 0},
        {"-empty", true, true, {}, 0},
        {"-empty 300", false, true, {0x00}, 0x300},
        {"-empty 12", true, true, {0x12}, 0x12},
        {"-empty -empty 12", true, true, {0x12}, 0x12},
        {"-empty 'a'", false, true, {0x61}, 0x61},
        {"-empty 0x", false, false, {}, 0},
        {"-empty '' 1", false, false, {}, 0},
    });
}

TEST_F(FileReference, MalformedReferencesAndUnusableFiles)
{
    Check({
        {"-", false, false, {}, 0},
        {"12 -", false, false, {}, 0},
        {"- abc", false, false, {}, 0},
        {"-\tabc", false, false, {}, 0},
        {"-missing", false, false, {}, 0},
        {"-abc/x", false, false, {}, 0},
        {"12 -missing", false, false, {}, 0},
        {"-abc -missing", false, false, {}, 0},
        {"-dir", false, false, {}, 0},
        {"-'dir'", false, false, {}, 0},
        {"-/dev/null", false, false, {}, 0},
        {"-abc 5", true, false, {}, 0},
        {"-abc -abc", true, false, {}, 0},
    });
}

TEST_F(FileReference, AbsolutePath)
{
    const std::string text = "-" + (scratch_.path() / "abc").string();
    Check({{text, false, true, {1, 2, 3}, 1}});
}

TEST_F(FileReference, FifoWithoutWriterIsRefusedNotWaitedOn)
{
    ASSERT_EQ(mkfifo("pipe", 0600), 0);
    Check({{"-pipe", false, false, {}, 0}});
}

TEST_F(FileReference, UnreadableFileIsInvalid)
{
    if (geteuid() == 0) {
        GTEST_SKIP() << "permissions do not bind the super-user";
    }
    scratch_.Write("secret", "s");
    ASSERT_EQ(chmod("secret", 0), 0);
    Check({{"-secret", false, false, {}, 0}});
}

TEST_F(FileReference, ReadErrorPartWayIsInvalid)
{
    // A regular file whose reading fails: the memory file of this process
    // refuses a read at offset 0, whoever runs the test.
    Check({{"-/proc/self/mem", false, false, {}, 0}, {"12 -/proc/self/mem", false, false, {}, 0}});
}

TEST_F(FileReference, FilesLargerThanOneReadArriveWhole)
{
    // Sizes around the reader's chunk and growth steps.
    for (const std::size_t size : {std::size_t{4095}, std::size_t{4096}, std::size_t{65535}, std::size_t{65536},
                                   std::size_t{65537}, std::size_t{1} << 20}) {
        std::string content(size, '\0');
        Bytes expected(size);
        for (std::size_t i = 0; i < size; ++i) {
            const auto byte = static_cast<std::uint8_t>((i * 7 + i / 256) & 0xFF);
            content[i] = static_cast<char>(byte);
            expected[i] = byte;
        }
        scratch_.Write("big", content);
        expected.push_back(0x42);
        SCOPED_TRACE(size);
        Check({{"-big 42", false, true, expected, 0}});
    }
}

} // namespace
