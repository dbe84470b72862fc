// Each kind's length, key frames and validation on hand-linked models.
#include "modeltest.h"
#include "base/scenariopath.h"
#include "scenario/reader/linker.h"
#include "scenario/reader/reader.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>

#include <unistd.h>

namespace vorn {
namespace {

using test::addBlock;
using test::addInput;
using test::addStill;
using test::RecordingPrompter;

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

using Frames = std::vector<int32_t>;

// Sources have no length; the holding and motion kinds last FRAMES, start every input at 0 and
// mark only their own frames.
TEST(LengthAndKeyFrames, SourcesHoldingAndMotionKinds)
{
    Scenario scenario;
    auto *image = addBlock<ImageBlock>(scenario, "i");
    image->frames = 50;
    EXPECT_EQ(image->frameCount(), 0);
    EXPECT_EQ(addBlock<TextBlock>(scenario, "t")->frameCount(), 0);
    EXPECT_EQ(addBlock<DrawBlock>(scenario, "d")->frameCount(), 0);
    EXPECT_TRUE(image->isKeyFrame(0));
    EXPECT_TRUE(image->isKeyFrame(12345));

    auto *still = addStill(scenario, "still", 25);
    addInput(scenario, *still, image)->cutMode = MaxCut;  // changes the picture, not the length
    struct Case {
        BlockKind kind;
        int32_t frames;
        int32_t filmInputs;
        Frames keyFrames;
    };
    const Case cases[] = {
        {BlockKind::Rotate, 11, 0, {0, 5, 10}},
        {BlockKind::Slide, 4, 0, {0, 2, 3}},
        {BlockKind::Focus, 7, 0, {0, 3, 6}},
        {BlockKind::Film, 20, 3, {0, 5, 10, 15, 19}},  // every (20 / 2) / 2 = 5 frames
        {BlockKind::Film, 20, 30, {0, 19}},            // interval 0: only the ends
        {BlockKind::Film, 20, 1, {0, 19}},
    };
    EXPECT_EQ(still->frameCount(), 25);
    EXPECT_EQ(still->inputs[0]->startOffset, 0);
    EXPECT_EQ(keyFrames(*still, 25), (Frames{0}));
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(kindKeyword(c.kind)) + " " + std::to_string(c.filmInputs));
        auto block = createBlock(c.kind);
        block->frames = c.frames;
        if (auto *film = dynamic_cast<FilmBlock *>(block.get()))
            film->inputCount = c.filmInputs;
        BlockInput *input = addInput(scenario, *block, still);
        EXPECT_EQ(block->frameCount(), c.frames);
        EXPECT_EQ(input->startOffset, 0);
        EXPECT_EQ(keyFrames(*block, c.frames), c.keyFrames);
    }
}

TEST(LengthAndKeyFrames, LengthIsKeptUntilReset)
{
    Scenario scenario;
    auto *still = addStill(scenario, "s", 10);
    EXPECT_EQ(still->frameCount(), 10);
    still->frames = 20;
    EXPECT_EQ(still->frameCount(), 10);
    still->frameCountCache = -1;
    EXPECT_EQ(still->frameCount(), 20);
}

// SERIES adds its inputs' lengths and CROSSFADE overlaps them: each input starts where the one
// before ends (less the overlap), and a frame is key where the input covering it says so, at
// the edges of an overlap and at both ends.
TEST(LengthAndKeyFrames, SeriesAddsAndCrossfadeOverlaps)
{
    Scenario scenario;
    auto *a = addStill(scenario, "a", 100);  // key frame 0
    auto *b = addBlock<RotateBlock>(scenario, "b");
    b->frames = 80;  // key frames 0, 40, 79
    auto *c = addStill(scenario, "c", 40);

    auto *series = addBlock<SeriesBlock>(scenario, "series");
    for (Block *input : {static_cast<Block *>(a), static_cast<Block *>(b), static_cast<Block *>(c)})
        addInput(scenario, *series, input);
    EXPECT_EQ(series->frameCount(), 220);
    EXPECT_EQ(series->inputs[1]->startOffset, 100);
    EXPECT_EQ(series->inputs[2]->startOffset, 180);
    EXPECT_EQ(keyFrames(*series, 220), (Frames{0, 100, 140, 179, 180, 219}));
    EXPECT_EQ(addBlock<SeriesBlock>(scenario, "empty", BlockKind::Main)->frameCount(), 0);

    auto *cross = addBlock<CrossfadeBlock>(scenario, "cross");
    cross->frames = 20;
    addInput(scenario, *cross, a);
    addInput(scenario, *cross, b);
    EXPECT_EQ(cross->frameCount(), 160);
    EXPECT_EQ(cross->inputs[0]->startOffset, 0);
    EXPECT_EQ(cross->inputs[1]->startOffset, 80);
    // b at 80: the overlap's edges 80, 90, 100 and b's own 80, 120, 159.
    EXPECT_EQ(keyFrames(*cross, 160), (Frames{0, 80, 90, 100, 120, 159}));

    auto *three = addBlock<CrossfadeBlock>(scenario, "three");
    three->frames = 10;
    for (Block *input : {static_cast<Block *>(a), static_cast<Block *>(b), static_cast<Block *>(c)})
        addInput(scenario, *three, input);
    EXPECT_EQ(three->frameCount(), 200);
    EXPECT_EQ(three->inputs[2]->startOffset, 160);
    // b at 90: 90, 95, 100, 130, 169; c at 160: 160, 165, 170.
    EXPECT_EQ(keyFrames(*three, 200), (Frames{0, 90, 95, 100, 130, 160, 165, 169, 170, 199}));

    // An overlap longer than the inputs (rejected by validation) gives no negative length.
    auto *bad = addBlock<CrossfadeBlock>(scenario, "bad");
    bad->frames = 500;
    addInput(scenario, *bad, a);
    addInput(scenario, *bad, b);
    EXPECT_EQ(bad->frameCount(), 0);
}

// MIX lasts until its latest input ends; each input's start and last frame are key frames.
TEST(LengthAndKeyFrames, MixTakesTheLatestEnd)
{
    Scenario scenario;
    auto *fifty = addStill(scenario, "fifty", 50);
    auto *forty = addStill(scenario, "forty", 40);
    auto *mix = addBlock<MixBlock>(scenario, "mix");
    addInput(scenario, *mix, fifty)->offset = 30;
    addInput(scenario, *mix, forty);
    EXPECT_EQ(mix->frameCount(), 80);
    EXPECT_EQ(mix->inputs[0]->startOffset, 30);
    EXPECT_EQ(mix->inputs[1]->startOffset, 0);
    EXPECT_EQ(keyFrames(*mix, 80), (Frames{0, 30, 39, 79}));
}

// The one-input effects last as long as their input. FADE marks its fades and lets its input's
// key frames through; the others mark their ends (and SHAKE nothing more) but not their input's.
TEST(LengthAndKeyFrames, SingleInputKindsFollowTheirInput)
{
    Scenario scenario;
    auto *source = addBlock<SeriesBlock>(scenario, "src");
    addInput(scenario, *source, addStill(scenario, "a", 30));
    addInput(scenario, *source, addStill(scenario, "b", 34));  // key frames 0, 30, 63
    struct Case {
        BlockKind kind;
        int32_t fadeMode;
        Frames keyFrames;
    };
    const Case cases[] = {
        {BlockKind::Fade, FadeBlock::ModeInOut, {0, 5, 10, 30, 58, 63}},
        {BlockKind::Fade, FadeBlock::ModeIn, {0, 5, 10, 30, 63}},
        {BlockKind::Fade, FadeBlock::ModeOut, {0, 30, 58, 63}},
        {BlockKind::Shake, 0, {0, 63}},
        {BlockKind::Mosaic, 0, {0, 32, 63}},
        {BlockKind::Expand, 0, {0, 32, 63}},
        {BlockKind::Alpha, 0, {0, 32, 63}},
        {BlockKind::Shade, 0, {0, 32, 63}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(kindKeyword(c.kind)) + " " + std::to_string(c.fadeMode));
        auto block = createBlock(c.kind);
        block->frames = 10;  // FADE's fade length does not change its length
        if (auto *fade = dynamic_cast<FadeBlock *>(block.get()))
            fade->fadeMode = c.fadeMode;
        addInput(scenario, *block, source);
        EXPECT_EQ(block->frameCount(), 64);
        EXPECT_EQ(block->inputs[0]->startOffset, 0);
        EXPECT_EQ(keyFrames(*block, 64), c.keyFrames);
        EXPECT_EQ(createBlock(c.kind)->frameCount(), 0) << "without input";
    }
}

// CUT lasts from START to END either way, holds each picture SKIP frames, and a frame is key
// where the frame it shows is key in its input.
TEST(LengthAndKeyFrames, CutRangeAndMapping)
{
    Scenario scenario;
    auto *source = addBlock<RotateBlock>(scenario, "src");
    source->frames = 21;  // key frames 0, 10, 20
    CutBlock cut;
    addInput(scenario, cut, source);
    cut.start = 10;
    cut.end = 0;
    cut.skip = 2;
    EXPECT_EQ(cut.frameCount(), 11);
    Frames mapped;
    for (int32_t f = 0; f < 11; ++f)
        mapped.push_back(cut.mappedFrame(f));
    EXPECT_EQ(mapped, (Frames{10, 10, 8, 8, 6, 6, 4, 4, 2, 2, 0}));
    EXPECT_EQ(keyFrames(cut, 11), (Frames{0, 1, 10}));
    cut.start = 20;
    cut.end = 4;
    cut.skip = 1;
    cut.frameCountCache = -1;
    // Frames 0 .. 16 show 20 .. 4.
    EXPECT_EQ(keyFrames(cut, 17), (Frames{0, 10, 16}));

    CutBlock forward;
    addInput(scenario, forward, source);
    forward.start = 3;
    forward.end = 7;
    EXPECT_EQ(forward.frameCount(), 5);
    EXPECT_EQ(forward.mappedFrame(0), 3);
    EXPECT_EQ(forward.mappedFrame(4), 7);
    EXPECT_EQ(keyFrames(forward, 5), (Frames{0, 4}));
    // SKIP 0 is read without complaint; it must not divide by zero.
    forward.skip = 0;
    EXPECT_EQ(forward.mappedFrame(2), 5);
    CutBlock defaults;
    EXPECT_EQ(defaults.frameCount(), 2);  // END not given (-1): rejected by validation
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
        const auto allKinds =
            std::filesystem::path(VORN_TEST_DATA_DIR) / "scenario" / "allkinds.txt";
        ASSERT_EQ(load(scenario, pathToSjis(allKinds).value()), 0);
        ASSERT_EQ(link(scenario), 0);
        expectCollectedKeyFrames(scenario);
    }

    test::TempDir dir;
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
        const auto input = [&] {
            return "INPUT \"" + names[size_t(pick(0, int(names.size()) - 1))] + "\" ";
        };
        const auto frames = [&](int low, int high) {
            return "FRAMES " + std::to_string(pick(low, high)) + " ";
        };
        for (int i = 0; i < 20; ++i) {
            std::string body;
            std::string kind;
            switch (pick(0, 12)) {
            case 0: kind = "ROTATE"; body = input() + frames(30, 60); break;
            case 1: kind = "ZOOM"; body = input() + frames(30, 60); break;
            case 2: kind = "FILM"; body = input() + input() + input() + "UP " + frames(30, 90); break;
            case 3:
                kind = std::vector<std::string>{"FADEIN", "FADEOUT", "FADEINOUT"}[size_t(pick(0, 2))];
                body = input() + frames(0, 15);
                break;
            case 4:
                kind = "CROSSFADE";
                body = input() + input() + (pick(0, 1) ? input() : "") + frames(0, 15);
                break;
            case 5:
                kind = "MIX";
                for (int k = pick(1, 4); k > 0; --k)
                    body += input() + "OFFSET " + std::to_string(pick(0, 40)) + " ";
                break;
            case 6:
                kind = "SERIES";
                for (int k = pick(1, 4); k > 0; --k)
                    body += input();
                break;
            case 7: kind = "SHAKE"; body = input(); break;
            case 8: kind = "MOSAIC"; body = input() + "SIZE_START 1 SIZE_END 4 "; break;
            case 9: kind = "EXPAND"; body = input() + "IN UP "; break;
            case 10:
                kind = "CUT";
                body = input() + "START " + std::to_string(pick(0, 29)) + " END " +
                       std::to_string(pick(0, 29)) + " SKIP " + std::to_string(pick(0, 4)) + " ";
                break;
            case 11: kind = "ALPHA"; body = input() + "START 0 END 255 "; break;
            default: kind = "SHADE"; body = input() + "START 0 END 2 "; break;
            }
            names.push_back("b" + std::to_string(i));
            text += kind + " \"" + names.back() + "\" { " + body + "}\n";
        }
        text += "MAIN { INPUT \"b19\" INPUT \"b18\" INPUT \"b10\" }\n";
        const auto file = dir.path() / ("random" + std::to_string(round) + ".txt");
        std::ofstream(file, std::ios::binary) << text;
        Scenario scenario;
        scenario.prompter = &prompter;
        if (load(scenario, pathToSjis(file).value()) != 0 || link(scenario) != 0)
            continue;  // lengths the random numbers made invalid
        ++linked;
        SCOPED_TRACE(text);
        expectCollectedKeyFrames(scenario);
    }
    EXPECT_GT(linked, 20);
}

class ValidateTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        // validate reads the picture's header.
        const auto photo = std::filesystem::path(VORN_SOURCE_DIR) / "tests/data/exif-none.jpg";
        std::filesystem::copy_file(photo, directory / "there.jpg");
    }

    test::TempDir m_temp;
    const std::filesystem::path directory = m_temp.path();
    RecordingPrompter prompter;
    Scenario scenario;
};

TEST_F(ValidateTest, ImageFileMustOpen)
{
    auto *image = addBlock<ImageBlock>(scenario, "pic");
    image->directory = directory.string();
    image->file = "there.jpg";
    EXPECT_EQ(image->validate(&prompter), 0);
    EXPECT_EQ(image->path, directory.string() + "\\there.jpg");
    EXPECT_TRUE(prompter.errors.empty());

    image->file = "missing.jpg";
    EXPECT_EQ(image->validate(&prompter), -4);
    ASSERT_EQ(prompter.errors.size(), 1u);
    EXPECT_EQ(prompter.errors[0],
              "ブロック pic で指定されたファイルを開くことができません。\nファイル：missing.jpg");

    image->file = "C:\\there.jpg";
    EXPECT_EQ(image->validate(&prompter), -4);
    image->file = ".";  // a directory is not a picture file
    EXPECT_EQ(image->validate(&prompter), -4);
    image->file.reset();  // BLOCK_FRAME: no file to open
    image->directory.reset();
    EXPECT_EQ(image->validate(&prompter), 0);
    EXPECT_FALSE(image->path);
}

TEST_F(ValidateTest, TextFileMustOpenAndStringIsPrepared)
{
    auto *text = addBlock<TextBlock>(scenario, "\x95\x5C");  // 表
    text->directory = directory.string();
    text->string = "Hello\r\nWorld";
    EXPECT_EQ(text->validate(&prompter), 0);
    EXPECT_EQ(text->displayString, "Hello\r\nWorld");

    text->file = "there.jpg";  // no photo data: no placeholders to fill, text unchanged
    EXPECT_EQ(text->validate(&prompter), 0);
    EXPECT_EQ(text->displayString, "Hello\r\nWorld");

    text->file = "gone.jpg";
    EXPECT_EQ(text->validate(&prompter), -1);
    ASSERT_EQ(prompter.errors.size(), 1u);
    EXPECT_EQ(prompter.errors[0],
              "ブロック 表 で指定されたファイルを開くことができません。\nファイル：gone.jpg");
}

TEST_F(ValidateTest, TextPlaceholdersComeFromThePhoto)
{
    const std::filesystem::path photo = std::filesystem::path(VORN_TEST_DATA_DIR) / "exif-tagged.jpg";
    if (!std::filesystem::exists(photo))
        GTEST_SKIP() << "no tagged photo in the test data";
    auto *text = addBlock<TextBlock>(scenario, "t");
    text->directory = directory.string();
    text->file = photo.string();
    text->string = "%MAKER% / %ISO%\r\n%FOCUS%";
    EXPECT_EQ(text->validate(&prompter), 0);
    EXPECT_EQ(text->displayString, "VornCam / 400\r\n35 / 1");
    EXPECT_EQ(text->string, "%MAKER% / %ISO%\r\n%FOCUS%");  // the written text stays
}

// The per-kind checks: each block as set up, the code its validation gives and the one message
// it shows (none when it passes). Kinds without checks always pass.
TEST_F(ValidateTest, KindChecksAndTheirMessages)
{
    auto *twenty = addStill(scenario, "src", 20);
    auto *longer = addStill(scenario, "long", 40);
    auto *middle = addStill(scenario, "middle", 39);
    auto *edge = addStill(scenario, "edge", 20);
    const auto action = [](int32_t afterimage) {
        auto block = std::make_unique<ActionBlock>(BlockKind::Zoom);
        block->name = "z";
        block->frames = 5;
        block->afterimage = afterimage;
        return block;
    };
    const auto fade = [&](int32_t mode, int32_t frames) {
        auto block = std::make_unique<FadeBlock>();
        block->name = "f";
        block->fadeMode = mode;
        block->frames = frames;
        addInput(scenario, *block, twenty);
        return block;
    };
    const auto crossfade = [&](StillBlock *inner, int32_t frames) {
        auto block = std::make_unique<CrossfadeBlock>();
        block->name = "cf";
        block->frames = frames;
        for (StillBlock *input : {edge, inner, edge})  // the ends need FRAMES, the inner 2 x
            addInput(scenario, *block, input);
        return block;
    };
    const auto cut = [&](int32_t start, int32_t end) {
        auto block = std::make_unique<CutBlock>();
        block->name = "c";
        block->start = start;
        block->end = end;
        addInput(scenario, *block, twenty);
        return block;
    };
    const auto expand = [](int32_t expandIn) {
        auto block = std::make_unique<ExpandBlock>();
        block->name = "e";
        block->expandIn = expandIn;
        return block;
    };
    const std::string fadeRoom = "ブロック f では、不正な対象フレーム数が指定されています。";
    const std::string cutRange =
        "ブロック CUT では、入力ブロック src に対して不正なフレーム番号が指定されています。";
    struct Case {
        std::unique_ptr<Block> block;
        int32_t code;
        std::string message;  // empty: none
    };
    Case cases[] = {
        {action(5), 0, ""},
        {action(6), -1, "ブロック z では、不正な残像フレーム数が指定されています。"},
        {fade(FadeBlock::ModeNone, 10), -1,
         "ブロック f に、( IN | OUT | INOUT ) が定義されていません。"},
        {fade(FadeBlock::ModeInOut, 10), 0, ""},  // 2 x 10 fits 20
        {fade(FadeBlock::ModeInOut, 11), -1, fadeRoom},
        {fade(FadeBlock::ModeOut, 11), 0, ""},
        {fade(FadeBlock::ModeIn, 21), -1, fadeRoom},
        {crossfade(longer, 20), 0, ""},
        {crossfade(middle, 20), -1,
         "ブロック cf では、入力ブロック middle に対して不正な対象フレーム数が指定されています。"},
        {crossfade(longer, 21), -1,
         "ブロック cf では、入力ブロック edge に対して不正な対象フレーム数が指定されています。"},
        {cut(19, 0), 0, ""},
        {cut(20, 0), -1, cutRange},
        {cut(0, -1), -1, cutRange},  // END not given
        {expand(0), -1, "ブロック e に、( IN | OUT ) が定義されていません。"},
        {expand(2), 0, ""},
    };
    for (Case &c : cases) {
        SCOPED_TRACE(std::string(kindKeyword(c.block->kind)) + " " + c.message);
        prompter.errors.clear();
        EXPECT_EQ(c.block->validate(&prompter), c.code);
        EXPECT_EQ(prompter.errors,
                  c.message.empty() ? std::vector<std::string>{} : std::vector{c.message});
    }

    prompter.errors.clear();
    for (auto kind : {BlockKind::Draw, BlockKind::Still, BlockKind::Rotate, BlockKind::Film,
                      BlockKind::Mix, BlockKind::Series, BlockKind::Main, BlockKind::Shake,
                      BlockKind::Mosaic, BlockKind::Alpha, BlockKind::Shade})
        EXPECT_EQ(createBlock(kind)->validate(&prompter), 0) << kindKeyword(kind);
    EXPECT_TRUE(prompter.errors.empty());
    // A null reporter drops the message but still fails.
    EXPECT_EQ(expand(0)->validate(nullptr), -1);
}

} // namespace
} // namespace vorn
