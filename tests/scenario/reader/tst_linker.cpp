// Linking and validation, and whole scenarios: every prefix and mangled copies of a valid one.
#include "readertest.h"

#include "scenario/model/blocks/action.h"
#include "scenario/model/blocks/mosaic.h"
#include "scenario/model/blocks/rotate.h"

#include <random>

namespace vorn::test {
namespace {

const std::filesystem::path AllKinds = std::filesystem::path(VORN_TEST_DATA_DIR) / "scenario";

std::string readBytes(const std::filesystem::path &file)
{
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A directory with the picture that the scenarios below name.
struct Folder {
    TempDir dir;
    Folder() { dir.write("a.bmp", readBytes(AllKinds / "allkinds.bmp")); }
    std::unique_ptr<Loaded> loadAndLink(std::string_view text)
    {
        auto loaded = loadString(dir, text);
        if (loaded->result == 0)
            loaded->result = link(loaded->scenario);
        return loaded;
    }
};

const char *const Pictures = "SCREEN 64 48\n"
                             "IMAGE \"a\" { FILE \"a.bmp\" }\n"
                             "IMAGE \"b\" { FILE \"a.bmp\" }\n";

TEST(Linker, AllKindsLinksAndCanLinkAgain)
{
    auto loaded = loadFile(AllKinds / "allkinds.txt");
    ASSERT_EQ(loaded->result, 0) << loaded->lastError();
    Scenario &s = loaded->scenario;
    ASSERT_EQ(link(s), 0) << loaded->lastError();
    EXPECT_TRUE(loaded->prompter.errors.empty());
    EXPECT_GT(s.totalFrames, 0);
    EXPECT_EQ(s.totalFrames, s.mainInput.block->frameCount());

    std::vector<int32_t> counts;
    for (const auto &block : s.blocks) {
        EXPECT_EQ(block->scenario, &s);
        for (const auto &input : block->inputs) {
            ASSERT_NE(input->block, nullptr);
            EXPECT_EQ(input->block->name, input->name);
            EXPECT_TRUE(input->hasRect);
        }
        counts.push_back(block->refCount);
    }
    // "pic" is named by four INPUT lines (MIX's BGIMAGE reference does not count); MAIN by none.
    EXPECT_EQ((std::vector<int32_t>{s.findBlock("pic")->refCount, s.findBlock(" ")->refCount,
                                    s.findBlock("slide")->refCount}), (std::vector<int32_t>{4, 0, 3}));
    // FRAMERATE 30, SCALE 1: frame 37 is 1233 ms, 1234 ms is frame 37.
    ASSERT_EQ(s.checkpoints.size(), 3u);
    EXPECT_EQ((std::vector<int32_t>{s.checkpoints[0].frame, s.checkpoints[0].time, s.checkpoints[1].time,
                                    s.checkpoints[1].frame}), (std::vector<int32_t>{37, 1233, 1234, 37}));

    // Linking again gives the same counts instead of doubling them.
    const int32_t total = s.totalFrames;
    ASSERT_EQ(link(s), 0);
    for (size_t i = 0; i < s.blocks.size(); ++i)
        EXPECT_EQ(s.blocks[i]->refCount, counts[i]);
    EXPECT_EQ(s.totalFrames, total);
}

TEST(Linker, BackgroundsAreNoLoopsAndDeepChainsAreRefused)
{
    Folder folder;
    // A BGIMAGE that names the block's own ancestor, and a block reached by two paths.
    auto ancestor = folder.loadAndLink(std::string(Pictures) +
                                       "ROTATE \"r\" { INPUT \"a\" BGIMAGE \"top\" FRAMES 4 }\n"
                                       "SERIES \"top\" { INPUT \"r\" INPUT \"a\" INPUT \"r\" }\n"
                                       "MAIN { INPUT \"top\" }\n");
    EXPECT_EQ(ancestor->result, 0) << ancestor->lastError();
    EXPECT_EQ(ancestor->scenario.findBlock("top")->refCount, 1);
    EXPECT_EQ(ancestor->scenario.findBlock("r")->refCount, 2);
    EXPECT_EQ(ancestor->scenario.findBlock("r")->bgImage->block,
              ancestor->scenario.findBlock("top"));

    // A chain of SERIES blocks (INPUT) or MIX blocks (BGIMAGE) down to a picture:
    // MaxInputNesting blocks deep is fine, one more is refused before anything recurses along
    // it, and so is a chain of 100,000 backgrounds. MAIN itself and the picture count too.
    struct Chain {
        bool backgrounds;
        int depth;
        std::string message;  // empty: links
    };
    const Chain chains[] = {
        {false, MaxInputNesting, ""},
        {false, MaxInputNesting + 1, "シーン   の入力の入れ子が深すぎます。"},
        {true, MaxInputNesting, ""},
        {true, MaxInputNesting + 1, "シーン   の入力とBGIMAGEの入れ子が深すぎます。"},
        {true, 100000, "シーン s0 の入力とBGIMAGEの入れ子が深すぎます。"},
    };
    for (const Chain &chain : chains) {
        std::string text = Pictures;
        const int links = chain.depth - 2;
        for (int i = 0; i < links; ++i) {
            const std::string next = i + 1 < links ? "s" + std::to_string(i + 1) : "a";
            const std::string name = "\"s" + std::to_string(i) + "\"";
            text += chain.backgrounds
                        ? "MIX " + name + " { INPUT \"b\" BGIMAGE \"" + next + "\" }\n"
                        : "SERIES " + name + " { INPUT \"" + next + "\" }\n";
        }
        // The longest chain of 100,000 is headed by s0, listed before MAIN.
        text += "MAIN { INPUT \"s0\" }\n";
        auto linked = folder.loadAndLink(text);
        EXPECT_EQ(linked->prompter.errors, chain.message.empty() ? std::vector<std::string>{}
                                                                 : std::vector<std::string>{linkingError(chain.message)})
            << chain.depth;
    }
}

// A background naming an ancestor is left out of the depth whichever block is walked first:
// here its block is listed before the chain above it, which is as deep as linking allows.
TEST(Linker, BackgroundOfAnAncestorAddsNoDepth)
{
    Folder folder;
    std::string text = std::string(Pictures) + "ROTATE \"r\" { INPUT \"a\" BGIMAGE \"s0\" FRAMES 4 }\n";
    const int links = MaxInputNesting - 3;
    for (int i = links - 1; i >= 0; --i)
        text += "SERIES \"s" + std::to_string(i) + "\" { INPUT \"" +
                (i + 1 < links ? "s" + std::to_string(i + 1) : std::string("r")) + "\" }\n";
    auto loaded = folder.loadAndLink(text + "MAIN { INPUT \"s0\" }\n");
    EXPECT_EQ(loaded->result, 0) << loaded->lastError();
}

TEST(Linker, KindDefaultsFillTheScreen)
{
    Folder folder;
    auto loaded = folder.loadAndLink("SCREEN 641 481\n"
                                     "IMAGE \"a\" { FILE \"a.bmp\" }\n"
                                     "ZOOM \"z\" { INPUT \"a\" SRC_START 0 0 7 7 FRAMES 4 }\n"
                                     "SLIDE \"s\" { INPUT \"a\" DST_START 1 2 3 4 FRAMES 4 }\n"
                                     "FOCUS \"f\" { INPUT \"a\" DSP_START 1 2 3 4 FRAMES 4 }\n"
                                     "ROTATE \"r\" { INPUT \"a\" FRAMES 4 }\n"
                                     "ROTATE \"c\" { INPUT \"a\" CENTER 5 6 FRAMES 4 }\n"
                                     "MOSAIC \"m\" { INPUT \"a\" SIZE_START 1 SIZE_END 2 "
                                     "TGT_START 1 2 3 4 }\n"
                                     "STILL \"t\" { INPUT \"a\" INPUT \"a\" 1 2 3 4 FRAMES 1 }\n"
                                     "MAIN { INPUT \"z\" }\n");
    ASSERT_EQ(loaded->result, 0) << loaded->lastError();
    const Scenario &s = loaded->scenario;
    const Rect full{0, 0, 640, 480}, given{1, 2, 3, 4};
    auto &zoom = static_cast<ActionBlock &>(*s.findBlock("z"));
    // ZOOM's destination and display are always the full screen, whatever was read.
    zoom.dstStart = zoom.dspEnd = given;
    ASSERT_EQ(link(loaded->scenario), 0);
    const auto rects = [&s](const char *name) {
        auto &b = static_cast<ActionBlock &>(*s.findBlock(name));
        return std::vector<Rect>{b.srcStart, b.dstStart, b.dstEnd, b.dspStart, b.dspEnd};
    };
    EXPECT_EQ(rects("z"), (std::vector<Rect>{{0, 0, 7, 7}, full, full, full, full}));
    EXPECT_EQ(rects("s")[1], given);
    EXPECT_EQ(rects("s")[3], full);
    EXPECT_EQ(rects("s")[4], full);
    EXPECT_EQ(rects("f")[3], given);
    EXPECT_EQ(rects("f")[1], full);
    EXPECT_EQ(rects("f")[2], full);
    auto &rotate = static_cast<RotateBlock &>(*s.findBlock("r"));
    auto &centred = static_cast<RotateBlock &>(*s.findBlock("c"));
    EXPECT_EQ((std::vector<int32_t>{rotate.centerX, rotate.centerY, centred.centerX, centred.centerY}),
              (std::vector<int32_t>{320, 240, 5, 6}));
    auto &mosaic = static_cast<MosaicBlock &>(*s.findBlock("m"));
    EXPECT_EQ(mosaic.tgtStart, given);
    EXPECT_EQ(mosaic.tgtEnd, full);
    EXPECT_EQ(s.findBlock("t")->inputs[0]->rect, full);
    EXPECT_EQ(s.findBlock("t")->inputs[1]->rect, given);
}

TEST(Linker, MacroCounterNamesBlocks)
{
    Folder folder;
    auto loaded = folder.loadAndLink("SCREEN 64 48\n"
                                     "MACRO PIC()\nIMAGE \"pic$$\" { FILE \"a.bmp\" }\nENDMACRO\n"
                                     "CALL PIC() CALL PIC()\n"
                                     "MAIN { INPUT \"pic0000\" INPUT \"pic0001\" }\n");
    ASSERT_EQ(loaded->result, 0) << loaded->lastError();  // MAIN finds both names
    // Blocks read from an expansion resolve their files against the calling file's folder.
    EXPECT_EQ(loaded->scenario.blocks[0]->directory, pathToSjis(folder.dir.path()).value());
}

// Loading (and linking when loading succeeded) either succeeds silently or fails with at least
// one message; never a crash or a hang. Runs in `dir`, where the pictures are.
void expectCleanOutcome(const TempDir &dir, std::string_view text, const std::string &what)
{
    auto loaded = loadString(dir, text);
    if (loaded->result == 0) {
        EXPECT_TRUE(loaded->prompter.errors.empty()) << what;
        loaded->result = link(loaded->scenario);
    }
    if (loaded->result == 0)
        EXPECT_TRUE(loaded->prompter.errors.empty()) << what;
    else
        EXPECT_FALSE(loaded->prompter.errors.empty()) << what;
}

TEST(Scenarios, EveryPrefixLoadsOrFailsWithAMessage)
{
    TempDir dir;
    dir.write("allkinds.bmp", readBytes(AllKinds / "allkinds.bmp"));
    const std::string full = readBytes(AllKinds / "allkinds.txt");
    ASSERT_FALSE(full.empty());
    // Prefixes of a valid scenario that also uses macros, variables and an INCLUDE.
    const std::string extra = "$(N) = (2*3)\n"
                              "MACRO PIC($(NAME) )\n"
                              "IMAGE \"$(NAME)$$\" { FILE \"allkinds.bmp\" }\n"
                              "ENDMACRO\n"
                              "CALL PIC(\"m\" )\n"
                              "INCLUDE \"part.txt\"\n";
    dir.write("part.txt", "STILL \"inc\" { INPUT \"m0000\" FRAMES $(N) }\n");
    const std::string text = extra + full;
    for (size_t n = 0; n <= text.size(); ++n)
        expectCleanOutcome(dir, std::string_view(text).substr(0, n), "prefix " + std::to_string(n));
}

TEST(Scenarios, MangledCopiesLoadOrFailWithAMessage)
{
    TempDir dir;
    dir.write("allkinds.bmp", readBytes(AllKinds / "allkinds.bmp"));
    const std::string full = readBytes(AllKinds / "allkinds.txt");
    const std::string specials = "{}()$\"#\n\t -0123456789ABEINPUT\x82\x7d\\/:*+";
    std::mt19937 random(20261206);
    for (int round = 0; round < 600; ++round) {
        std::string text = full;
        const int edits = 1 + static_cast<int>(random() % 4);
        for (int e = 0; e < edits && !text.empty(); ++e) {
            const size_t at = random() % text.size();
            switch (random() % 4) {
            case 0: text.erase(at, 1 + random() % 8); break;
            case 1: text.insert(at, 1, specials[random() % specials.size()]); break;
            case 2: text[at] = specials[random() % specials.size()]; break;
            default: {
                const size_t from = random() % text.size();
                text.insert(at, text.substr(from, 1 + random() % 40));
                break;
            }
            }
        }
        expectCleanOutcome(dir, text, "round " + std::to_string(round));
    }
}

} // namespace
} // namespace vorn::test
