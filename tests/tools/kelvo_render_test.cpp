// kelvo-render, run as built: its trace, its pictures and its refusals.
#include "tests/support/saver_folder.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct Outcome {
    int status = -1;
    std::string out;
    std::string err;
};

class Render : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/kelvo-render-test-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        folder_ = pattern;
    }
    void TearDown() override {
        for (const char* name : {"err", "out.png", "out.gif"}) std::remove((folder_ + "/" + name).c_str());
        rmdir(folder_.c_str());
    }

    // Arguments are simple words here, so the shell needs no quoting.
    Outcome Start(const std::string& arguments) {
        Outcome run;
        const std::string command = std::string(KELVO_RENDER_PATH) + " " + arguments + " 2>" + folder_ + "/err";
        FILE* pipe = popen(command.c_str(), "r");
        if (pipe == nullptr) return run;
        char buffer[4096];
        size_t read = 0;
        while ((read = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) run.out.append(buffer, read);
        int status = pclose(pipe);
        run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        run.err = SaverFolder::ReadFile(folder_ + "/err");
        return run;
    }

    std::string folder_;
};

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream stream(text);
    for (std::string line; std::getline(stream, line);) lines.push_back(line);
    return lines;
}

TEST_F(Render, TraceOfTheWorkedExample) {
    Outcome run = Start("--size 160x120 --seed 1 --komakasa 8 --colmode 1 --frames 1 --trace");
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    std::vector<std::string> lines = Lines(run.out);
    ASSERT_EQ(lines.size(), 1u + 8 + 1 + 8 + 8);
    EXPECT_EQ(lines[0], "frame 0 draws 40");
    EXPECT_EQ(lines[1], "sparkle 0 41 107 3 9 737");
    EXPECT_EQ(lines[9], "frame 1 draws 39");
    EXPECT_EQ(lines[10], "glyph 0 41 107 00FFE5");
    EXPECT_EQ(lines[18], "sparkle 0 44 104 3 -8 741");
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(lines[1 + i].rfind("sparkle " + std::to_string(i) + " ", 0), 0u) << lines[1 + i];
        EXPECT_EQ(lines[10 + i].rfind("glyph " + std::to_string(i) + " ", 0), 0u) << lines[10 + i];
        EXPECT_EQ(lines[18 + i].rfind("sparkle " + std::to_string(i) + " ", 0), 0u) << lines[18 + i];
    }
}

// The settings reach the effect through the file: an omitted option is the
// file's default, and a value out of range is clamped as the saver clamps it.
TEST_F(Render, SettingsTakeTheSaversRoad) {
    const std::string base = "--size 64x48 --seed 123 --frames 3 --trace";
    Outcome omitted = Start(base);
    Outcome explicitDefaults = Start(base + " --komakasa 8 --colmode 0 --wait 40");
    ASSERT_EQ(omitted.status, 0) << omitted.err;
    EXPECT_EQ(omitted.out, explicitDefaults.out);
    EXPECT_EQ(Lines(omitted.out).at(0), "frame 0 draws 32");

    Outcome belowRange = Start(base + " --komakasa -5");
    Outcome one = Start(base + " --komakasa 1");
    ASSERT_EQ(belowRange.status, 0) << belowRange.err;
    EXPECT_EQ(belowRange.out, one.out);
    EXPECT_NE(belowRange.out, omitted.out);
}

TEST_F(Render, WritesThePictures) {
    Outcome run = Start("--size 40x30 --seed 4294967295 --frames 5 --wait 0 --png " + folder_ + "/out.png --gif " +
                    folder_ + "/out.gif");
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "");
    const std::string png = SaverFolder::ReadFile(folder_ + "/out.png");
    ASSERT_GT(png.size(), 24u);
    EXPECT_EQ(png.substr(0, 8), "\x89PNG\r\n\x1a\n");
    EXPECT_EQ(png.substr(16, 8), std::string("\0\0\0\x28\0\0\0\x1e", 8));  // 40 x 30
    const std::string gif = SaverFolder::ReadFile(folder_ + "/out.gif");
    ASSERT_GT(gif.size(), 10u);
    EXPECT_EQ(gif.substr(0, 6), "GIF89a");
    EXPECT_EQ(gif.substr(6, 4), std::string("\x28\0\x1e\0", 4));
}

TEST_F(Render, BadArgumentsAreRefusedWithStatusTwo) {
    const char* cases[] = {
        "",
        "--size 160x120 --seed 1",                          // no frame count
        "--seed 1 --frames 1",                              // no size
        "--size 160x120 --frames 1",                        // no seed
        "--size 160x120 --seed 1 --frames",                 // missing value
        "--size 0x120 --seed 1 --frames 1",                 // size of 0
        "--size 160x-1 --seed 1 --frames 1",                // negative size
        "--size 160 --seed 1 --frames 1",                   // not WxH
        "--size 160x120 --seed abc --frames 1",             // not a number
        "--size 160x120 --seed -1 --frames 1",              // below the seed range
        "--size 160x120 --seed 4294967296 --frames 1",      // above the seed range
        "--size 160x120 --seed 1 --frames 1x",              // trailing text
        "--size 160x120 --seed 1 --frames -1",              // negative frame count
        "--size 160x120 --seed 1 --frames 1 --komakasa 2147483648",
        "--size 160x120 --seed 1 --frames 1 --wait ten",
        "--size 160x120 --seed 1 --frames 1 --speed 3",     // unknown option
        "--size 160x120 --seed 1 --frames 1 extra",
    };
    for (const char* arguments : cases) {
        Outcome run = Start(arguments);
        EXPECT_EQ(run.status, 2) << arguments;
        EXPECT_EQ(run.out, "") << arguments;
        EXPECT_EQ(Lines(run.err).size(), 1u) << arguments << ": " << run.err;
    }
}

}  // namespace
