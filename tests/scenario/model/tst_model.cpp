// The scenario model: kind codes, a new scenario, lookup, texts and paths, inputs, loops, copies.
#include "modeltest.h"

namespace vorn::test {
namespace {

TEST(ScenarioTest, CreateMainMakesOneMainBlock)
{
    Scenario scenario;
    ASSERT_EQ(scenario.createMain(), 0);
    ASSERT_EQ(scenario.blocks.size(), 1u);
    Block *main = scenario.blocks.front().get();
    EXPECT_EQ(main->kind, BlockKind::Main);
    EXPECT_NE(dynamic_cast<SeriesBlock *>(main), nullptr);
    EXPECT_EQ(main->name, " ");
    EXPECT_EQ(scenario.mainInput.block, main);
    EXPECT_EQ(scenario.findBlock(" "), main);
    // A second MAIN is refused; the list keeps one.
    EXPECT_EQ(scenario.createMain(), -1);
    EXPECT_EQ(scenario.blocks.size(), 1u);
}

TEST(ScenarioTest, FindBlockIsExactAndTakesTheFirst)
{
    Scenario scenario;
    auto *first = addStill(scenario, "Scene", 1);
    addStill(scenario, "Scene", 2);
    auto *other = addStill(scenario, "\x95\x5C", 3);  // 表: second byte is a backslash
    EXPECT_EQ(scenario.findBlock("Scene"), first);
    EXPECT_EQ(scenario.findBlock("\x95\x5C"), other);
    for (const char *name : {"scene", "SCENE", "Scene ", ""})
        EXPECT_EQ(scenario.findBlock(name), nullptr) << name;
}

TEST(BlockPathTest, DriveLetterKeptRelativeAppendedWithOneBackslash)
{
    // Folder, file, buildPath()'s result, the path it builds, the local path ("-": none). 表's
    // trail byte 0x5C is no separator in the local form, which decodes first.
    const struct {
        const char *directory, *file;
        int32_t built;
        const char *path, *local;
    } rows[] = {
        {nullptr, "a.jpg", -3, nullptr, "-"},
        {"/data/show", nullptr, 0, nullptr, "-"},
        {"/data/show", "C:\\pictures\\a.jpg", 0, "C:\\pictures\\a.jpg", "-"},  // cannot exist here
        {"/data/show", "pictures\\a.jpg", 0, "/data/show\\pictures\\a.jpg", "/data/show/pictures/a.jpg"},
        {"/data/show", "\x95\x5C.jpg", 0, "/data/show\\\x95\x5C.jpg", "/data/show/表.jpg"},
        {nullptr, "/abs/b.jpg", -3, nullptr, "/abs/b.jpg"},
        {nullptr, "rel.jpg", -3, nullptr, "-"},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.file ? row.file : "-");
        ImageBlock block;
        block.directory = row.directory ? std::optional<SjisString>(row.directory) : std::nullopt;
        block.file = row.file ? std::optional<SjisString>(row.file) : std::nullopt;
        EXPECT_EQ(block.buildPath(), row.built);
        EXPECT_EQ(block.path, row.path ? std::optional<SjisString>(row.path) : std::nullopt);
        const auto local = block.localFilePath();
        EXPECT_EQ(local ? local->string() : "-", row.local);
    }
}

// A linked input is written with its block's name; a copy is unlinked and keeps the name it was
// given (and its rectangle: the whole-scenario copy writes the same lines).
TEST(BlockInputTest, CopyIsUnlinked)
{
    Scenario scenario;
    BlockInput input("written");
    input.block = addStill(scenario, "target", 5);
    input.scenario = &scenario;
    EXPECT_EQ(input.nameOf(), "target");
    EXPECT_EQ(input.frameCount(), 5);
    BlockInput copy(input);
    EXPECT_TRUE(!copy.block && copy.nameOf() == "written" && copy.frameCount() == 0 && !copy.render(0));
}

TEST(BlockInputTest, BlankInputGivesTransparentScreenPictures)
{
    Scenario scenario;
    scenario.screenWidth = 4;
    scenario.screenHeight = 3;
    auto *target = addStill(scenario, "t", 2);
    SeriesBlock parent;
    auto *input = addInput(scenario, parent, target, InputBlank);

    ImageBuffer *first = input->render(0);
    ImageBuffer *second = input->render(0);
    ASSERT_TRUE(first && second);
    EXPECT_NE(first, second);  // each caller gets its own picture
    ASSERT_TRUE(first->width == 4 && first->height == 3 && first->alpha);
    for (int32_t i = 0; i < 48; ++i)  // red, green, blue and alpha of each pixel: transparent black
        EXPECT_EQ(i < 36 ? GetChannel(*first, i % 4, i / 4 % 3, i / 12) : first->alphaRow(i / 4 % 3)[i % 4], 0) << i;
    EXPECT_TRUE(input->blankImage);
    input->release(first, 0);
    EXPECT_TRUE(input->blankImage);  // kept while frames remain
    input->release(second, 2);
    EXPECT_FALSE(input->blankImage);  // dropped after the last frame
}

// The first block met again on the current path is the loop; blocks reached by two paths are
// not, and shared parts are walked once.
TEST(FindLoopTest, ReportsTheBlockMetAgainOnThePath)
{
    Scenario scenario;
    ASSERT_EQ(scenario.createMain(), 0);
    Block *main = scenario.blocks.front().get();
    auto *a = addBlock<SeriesBlock>(scenario, "a");
    auto *b = addBlock<SeriesBlock>(scenario, "b");
    auto *leaf = addStill(scenario, "leaf", 3);
    addInput(scenario, *main, a);
    addInput(scenario, *a, b);
    addInput(scenario, *a, leaf);
    addInput(scenario, *b, leaf);  // reached twice by different paths: no loop
    EXPECT_FALSE(scenario.findLoop());

    // A BGIMAGE naming an ancestor is not walked.
    leaf->bgImage = std::make_unique<BlockInput>("a");
    leaf->bgImage->block = a;
    EXPECT_FALSE(scenario.findLoop());

    addInput(scenario, *b, a);
    std::set<SjisString> visited;
    EXPECT_EQ(scenario.findLoop(visited), "a");
    EXPECT_TRUE(visited.empty());

    // Forty levels, each naming the next level twice: a walk of every path would never end.
    Scenario deep;
    ASSERT_EQ(deep.createMain(), 0);
    Block *previous = deep.blocks.front().get();
    for (int i = 0; i < 40; ++i) {
        auto *level = addBlock<SeriesBlock>(deep, "level" + std::to_string(i));
        addInput(deep, *previous, level);
        addInput(deep, *previous, level);
        previous = level;
    }
    EXPECT_FALSE(deep.findLoop());
    addInput(deep, *previous, deep.findBlock("level3"));
    EXPECT_EQ(deep.findLoop(), "level3");
}

// A block of a code outside the table, as a damaged model could hold.
class StrayBlock final : public Block {
public:
    StrayBlock() : Block(static_cast<BlockKind>(0x2010)) {}
};

// An IMAGE code on an object of another class.
class FakeImageBlock final : public Block {
public:
    FakeImageBlock() : Block(BlockKind::Image) {}
};

TEST(ScenarioCopyTest, KindOutsideTheTableIsReported)
{
    RecordingPrompter prompter;
    Scenario scenario;
    scenario.prompter = &prompter;
    ASSERT_EQ(scenario.createMain(), 0);
    scenario.blocks.push_back(std::make_unique<StrayBlock>());
    EXPECT_FALSE(Scenario::copyOf(scenario));
    ASSERT_EQ(prompter.errors.size(), 1u);
    EXPECT_EQ(prompter.errors[0], "シナリオコピーコンストラクタにおいて問題が発生しました。");

    Scenario direct(scenario);
    EXPECT_TRUE(direct.copyFailed());

    // A block whose class does not match its kind cannot be copied by the table either.
    EXPECT_FALSE(copyBlock(StrayBlock()));
    EXPECT_FALSE(copyBlock(FakeImageBlock()));
    EXPECT_TRUE(copyBlock(ImageBlock()));
}

// The linked sample holds every kind with most of its keywords: the copy writes the same lines
// (its length is worked out again when it is linked), holds no links, no pictures and no shown
// texts, shares nothing with the original, and keeps what the file does not hold but the
// program needs (the path, the song link, the folders, the reporter). Checkpoints and settings
// are in the lines.
TEST(ScenarioCopyTest, CopiesSettingsBlocksAndCheckpointsUnlinked)
{
    RecordingPrompter prompter;
    Scenario scenario;
    scenario.prompter = &prompter;
    ASSERT_EQ(loadLinked(scenario, AllKinds), 0) << prompter.lastError();
    scenario.version = "3";
    scenario.path = "show.txt";
    scenario.currentDirectory = "/data";
    scenario.audio = "/data/song.wav";
    scenario.usesAudioLink = true;
    scenario.variables.add({"x", "1"});
    scenario.macros.add({"M", {}, "body", 0});
    auto *text = dynamic_cast<TextBlock *>(scenario.findBlock("caption"));
    ASSERT_TRUE(text);
    text->displayString = "shown";
    text->image = CreateImage(1, 1);
    dynamic_cast<ImageBlock &>(*scenario.findBlock("pic")).image = CreateImage(2, 2);
    scenario.findBlock("still")->cacheA = CreateImage(1, 1);
    scenario.mainInput.block->inputs[0]->linkVolumeAlpha = true;

    auto copy = Scenario::copyOf(scenario);
    ASSERT_TRUE(copy);
    EXPECT_TRUE(prompter.errors.empty());
    EXPECT_EQ(copy->totalFrames, 0);
    copy->totalFrames = scenario.totalFrames;
    EXPECT_EQ(fileLines(*copy), fileLines(scenario));
    EXPECT_EQ(copy->path, "show.txt");
    EXPECT_FALSE(copy->currentDirectory);
    EXPECT_TRUE(copy->usesAudioLink);
    EXPECT_TRUE(copy->variables.empty() && copy->macros.empty());
    EXPECT_EQ(copy->prompter, &prompter);
    ASSERT_EQ(copy->blocks.size(), scenario.blocks.size());
    for (size_t i = 0; i < copy->blocks.size(); ++i) {
        const Block &to = *copy->blocks[i];
        EXPECT_TRUE(!to.scenario && !to.cacheA && !to.cacheB && !to.path && to.frameCountCache == -1);
        EXPECT_EQ(to.directory, scenario.blocks[i]->directory);  // where its pictures are found
        for (const auto &input : to.inputs)
            EXPECT_EQ(input->block, nullptr);
    }
    // MAIN is found by kind and becomes the target of the copy's mainInput.
    EXPECT_EQ(copy->mainInput.block, copy->findBlock(" "));
    EXPECT_EQ(copy->render(0), nullptr);  // unlinked: nothing until linked again
    EXPECT_TRUE(copy->mainInput.block->inputs[0]->linkVolumeAlpha);
    const auto &txt = dynamic_cast<const TextBlock &>(*copy->findBlock("caption"));
    EXPECT_FALSE(txt.displayString || txt.image);
    EXPECT_FALSE(dynamic_cast<const ImageBlock &>(*copy->findBlock("pic")).image);
    const auto &shapes = dynamic_cast<const DrawBlock &>(*scenario.findBlock("shapes"));
    const auto &copiedShapes = dynamic_cast<const DrawBlock &>(*copy->findBlock("shapes"));
    ASSERT_EQ(copiedShapes.shapes.size(), shapes.shapes.size());
    for (size_t i = 0; i < shapes.shapes.size(); ++i)
        EXPECT_NE(copiedShapes.shapes[i].get(), shapes.shapes[i].get()) << i;
    EXPECT_EQ(copy->findBlock("rotate")->bgImage->block, nullptr);
    copy->findBlock("still")->name = "renamed";
    EXPECT_EQ(scenario.findBlock("still")->name, "still");
}
} // namespace
} // namespace vorn::test
