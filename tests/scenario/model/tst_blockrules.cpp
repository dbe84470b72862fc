// Each kind's length, key frames and validation: the cases of data/lengths.txt read and linked as
// a user's file is, and what a table cannot hold (changes after linking, long chains, photos).
#include "modeltest.h"

#include <random>

namespace vorn::test {
namespace {

// The frames in 0 .. count - 1 that a block reports as key frames, asked frame by frame; the
// key frames the block collects in one walk must be the same, and so must those of any part of
// its length placed anywhere.
std::vector<int32_t> keyFrames(Block &block, int32_t count)
{
    std::vector<int32_t> frames;
    for (int32_t f = 0; f < count; ++f)
        if (block.isKeyFrame(f))
            frames.push_back(f);
    KeyFrameSink whole;
    block.collectKeyFrames(0, int64_t(count) - 1, 0, whole);
    EXPECT_EQ(whole.sortedFrames(), std::vector<int64_t>(frames.begin(), frames.end()))
        << kindKeyword(block.kind) << " " << block.name.value_or("");
    const int64_t first = count / 3, last = count - count / 4 - 1, offset = 1000;
    KeyFrameSink part;
    block.collectKeyFrames(first, last, offset, part);
    std::vector<int64_t> expected;
    for (const int32_t f : frames)
        if (f >= first && f <= last)
            expected.push_back(f + offset);
    EXPECT_EQ(part.sortedFrames(), expected)
        << kindKeyword(block.kind) << " " << block.name.value_or("") << " part";
    return frames;
}

// Every block of a linked scenario, and MAIN through keyFrames().
void expectCollectedKeyFrames(Scenario &scenario)
{
    for (auto &block : scenario.blocks)
        keyFrames(*block, block->frameCount());
    ASSERT_NE(scenario.mainInput.block, nullptr);
    EXPECT_EQ(scenario.keyFrames(), keyFrames(*scenario.mainInput.block, scenario.totalFrames));
}

// The cases of data/lengths.txt (its header says what the lines mean).
TEST(LengthAndKeyFrames, TableOfScenarios)
{
    const TempDir dir;
    std::filesystem::copy(std::filesystem::path(VORN_SOURCE_DIR) / "tests/scenario/model/data/pictures",
                          dir.path() / "pictures");
    const int cases = forEachCase("lengths.txt", [&dir](const std::string &text, const std::string &expected) {
        RecordingPrompter prompter;
        Scenario scenario;
        scenario.prompter = &prompter;
        ASSERT_EQ(load(scenario, pathToSjis(dir.write("case.txt", utf8ToSjis(text).value())).value()), 0)
            << prompter.lastError();
        const int32_t linked = link(scenario);
        std::istringstream lines(expected);
        for (std::string line; std::getline(lines, line);) {
            SCOPED_TRACE(line);
            if (line.empty())
                continue;
            if (line.rfind("! ", 0) == 0) {
                for (size_t at; (at = line.find("\\n")) != std::string::npos;)
                    line.replace(at, 2, "\n");
                EXPECT_EQ(linked, -1);
                EXPECT_EQ(prompter.errors, std::vector<std::string>{line.substr(2)});
                continue;
            }
            ASSERT_EQ(linked, 0) << prompter.lastError();
            std::istringstream words(line);
            std::string name, word;
            words >> name;
            Block *block = scenario.findBlock(name);
            ASSERT_TRUE(block);
            const int32_t length = block->frameCount();
            std::vector<int32_t> numbers, starts;
            while (words >> word)
                numbers.push_back(word == "@" ? -1 : std::stoi(word));
            if (numbers.at(0) == -1) {
                for (const auto &input : block->inputs)
                    starts.push_back(input->startOffset);
                EXPECT_EQ(starts, std::vector<int32_t>(numbers.begin() + 1, numbers.end()));
            } else {
                EXPECT_EQ(length, numbers[0]);
                EXPECT_EQ(keyFrames(*block, length), std::vector<int32_t>(numbers.begin() + 1, numbers.end()));
            }
        }
        if (linked == 0)
            expectCollectedKeyFrames(scenario);
    });
    EXPECT_EQ(cases, 18);
}

// Forty levels of MIX, each naming the level below twice at the same place: a walk of every path
// would never end; the shared parts are collected once.
TEST(LengthAndKeyFrames, SharedPartsAreCollectedOnce)
{
    Scenario scenario;
    auto *leaf = addBlock<RotateBlock>(scenario, "leaf");
    leaf->frames = 9;
    Block *below = leaf;
    for (int i = 0; i < 40; ++i) {
        auto *mix = addBlock<MixBlock>(scenario, "mix" + std::to_string(i));
        addInput(scenario, *mix, below);
        addInput(scenario, *mix, below);
        below = mix;
    }
    KeyFrameSink sink;
    below->collectKeyFrames(0, 8, 0, sink);
    EXPECT_EQ(sink.sortedFrames(), (std::vector<int64_t>{0, 4, 8}));
}

// The scenario with every kind, and random trees of blocks (shared inputs, offsets, overlaps,
// backward cuts with skips) as the reader and linking accept them.
TEST(LengthAndKeyFrames, CollectedMatchTheFrameByFrameAnswer)
{
    RecordingPrompter prompter;
    {
        Scenario scenario;
        scenario.prompter = &prompter;
        ASSERT_EQ(loadLinked(scenario, AllKinds), 0);
        expectCollectedKeyFrames(scenario);
    }

    TempDir dir;
    std::mt19937 random(20261207);
    const auto pick = [&](int low, int high) {
        return std::uniform_int_distribution<int>(low, high)(random);
    };
    int linked = 0;
    for (int round = 0; round < 60; ++round) {
        std::string text = "SCREEN 8 6\nDRAW \"d\" { SIZE 8 6 }\n";
        std::vector<std::string> names;
        for (int i = 0; i < 4; ++i) {
            names.push_back("s" + std::to_string(i));
            text += "STILL \"" + names.back() + "\" { INPUT \"d\" FRAMES " +
                    std::to_string(pick(30, 80)) + " }\n";
        }
        // Each kind's lines: i an input, f a length, s a short one, n 0 to 40, c 0 to 29, k 0 to 4.
        static const char *const kinds[][2] = {
            {"ROTATE", "i f"}, {"ZOOM", "i f"}, {"FILM", "i i i UP f"}, {"FADEIN", "i s"},
            {"FADEOUT", "i s"}, {"FADEINOUT", "i s"}, {"CROSSFADE", "i i s"}, {"CROSSFADE", "i i i s"},
            {"MIX", "i OFFSET n"}, {"MIX", "i OFFSET n i OFFSET n i OFFSET n"}, {"SERIES", "i"},
            {"SERIES", "i i i"}, {"SHAKE", "i"}, {"MOSAIC", "i SIZE_START 1 SIZE_END 4"},
            {"EXPAND", "i IN UP"}, {"CUT", "i START c END c SKIP k"}, {"ALPHA", "i START 0 END 255"},
            {"SHADE", "i START 0 END 2"}};
        for (int i = 0; i < 20; ++i) {
            const auto &kind = kinds[pick(0, int(std::size(kinds)) - 1)];
            std::string body;
            for (const char c : std::string(kind[1]))
                body += c == 'i'   ? "INPUT \"" + names[size_t(pick(0, int(names.size()) - 1))] + "\""
                        : c == 'f' ? "FRAMES " + std::to_string(pick(30, 90))
                        : c == 's' ? "FRAMES " + std::to_string(pick(0, 15))
                        : c == 'n' ? std::to_string(pick(0, 40))
                        : c == 'c' ? std::to_string(pick(0, 29))
                        : c == 'k' ? std::to_string(pick(0, 4))
                                   : std::string(1, c);
            names.push_back("b" + std::to_string(i));
            text += std::string(kind[0]) + " \"" + names.back() + "\" { " + body + " }\n";
        }
        text += "MAIN { INPUT \"b19\" INPUT \"b18\" INPUT \"b10\" }\n";
        const auto file = dir.write("random" + std::to_string(round) + ".txt", text);
        Scenario scenario;
        scenario.prompter = &prompter;
        if (loadLinked(scenario, file) != 0)
            continue;  // lengths the random numbers made invalid
        ++linked;
        SCOPED_TRACE(text);
        expectCollectedKeyFrames(scenario);
    }
    EXPECT_GT(linked, 20);
}

// A TEXT's shown string is its text, with the placeholders filled from its photo's tags; the
// written text stays.
TEST(ValidateTest, TextStringIsPreparedFromThePhoto)
{
    const std::filesystem::path data = VORN_TEST_DATA_DIR;
    const struct {
        const char *photo, *string, *shown;
    } rows[] = {
        {nullptr, "Hello\r\nWorld", "Hello\r\nWorld"},
        {"exif-none.jpg", "Hello\r\nWorld", "Hello\r\nWorld"},
        {"exif-tagged.jpg", "%MAKER% / %ISO%\r\n%FOCUS%", "VornCam / 400\r\n35 / 1"},
    };
    for (const auto &row : rows) {
        RecordingPrompter prompter;
        Scenario scenario;
        auto *text = addBlock<TextBlock>(scenario, "t");
        text->directory = data.string();
        if (row.photo)
            text->file = (data / row.photo).string();
        text->string = row.string;
        EXPECT_EQ(text->validate(&prompter), 0) << prompter.lastError();
        EXPECT_EQ(text->displayString, row.shown);
        EXPECT_EQ(text->string, row.string);
    }
}

} // namespace
} // namespace vorn::test
