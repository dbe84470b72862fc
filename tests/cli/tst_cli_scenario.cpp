// Tests of `vorn-scenario check`, `info` and `checkpoints`: exit codes, JSON and error text.
#include "support/clirun.h"

#include <fstream>
#include <iterator>

namespace {

class CliScenarioTest : public vorn::test::CliTest {
protected:
    CliScenarioTest() { copyScenarioData({"allkinds.bmp", "allkinds.txt"}); }
    void write(const std::string &name, const std::string &text) const { m_dir.write(name, text); }
};

const std::string Heading = "シナリオ読み込み時にエラーが発生しました。\n";

TEST_F(CliScenarioTest, CheckExitCodesAndErrors)
{
    vorn::test::CliRun ok = run({"check", "allkinds.txt"});
    EXPECT_EQ(ok.exitCode, 0) << ok.err;
    EXPECT_EQ(ok.out, "");
    EXPECT_EQ(ok.err, "");
    // The command needs no display: an empty or unusable platform in the environment is no
    // reason to abort.
    for (const char *platform : {"", "xcb"}) {
        vorn::test::CliRun anyPlatform =
            run({"check", "allkinds.txt"}, {}, {{"QT_QPA_PLATFORM", platform}, {"DISPLAY", ""}});
        EXPECT_EQ(anyPlatform.exitCode, 0) << platform << ": " << anyPlatform.err;
    }

    write("bad.txt", "SCREEN 64 48\n\nSCRREN 1\n");
    vorn::test::CliRun bad = run({"check", "bad.txt"});
    EXPECT_EQ(bad.exitCode, 1);
    EXPECT_EQ(bad.err, Heading + "bad.txt : 3行目 :\nSCRREN の記述はできません。\n");

    write("nomain.txt", "SCREEN 64 48\n");
    vorn::test::CliRun noMain = run({"check", "nomain.txt"});
    EXPECT_EQ(noMain.exitCode, 1);
    EXPECT_EQ(noMain.err, Heading + "MAINブロックが定義されていません。\n");

    vorn::test::CliRun missing = run({"check", "missing.txt"});
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_EQ(missing.err, Heading + "シナリオファイルのロードに失敗しました。\n");

    EXPECT_EQ(run({"check"}).exitCode, 2);
    EXPECT_EQ(run({"check", "a.txt", "b.txt"}).exitCode, 2);
    EXPECT_EQ(run({"check", "allkinds.txt", "--answer", "maybe"}).exitCode, 2);
    EXPECT_EQ(run({"check", "--help"}).exitCode, 0);
}

// Inputs turned away before they cost time or give wrong results, each with a message that
// says what is wrong and where. Every row writes in.txt (and its own files) and runs check, or
// render where only decoding finds the fault.
TEST_F(CliScenarioTest, RefusesBadInputsWithAMessageThatHelps)
{
    copyScenarioData({"bomb-16000.jpg", "bomb-16000.png", "damaged-stream.png"});
    std::ifstream jpeg(std::filesystem::path(VORN_SOURCE_DIR) / "tests/data/exif-none.jpg",
                       std::ios::binary);
    const std::string whole{std::istreambuf_iterator<char>(jpeg), {}};
    write("cut.jpg", whole.substr(0, whole.size() - 2));  // the end marker cut off
    write("passwd.jpg", "root:x:0:0:root:/root:/bin/bash\n");
    const auto showing = [](const std::string &file) {
        return "SCREEN 64 48\nIMAGE \"a\" { FILE \"" + file +
               "\" }\nSTILL \"s\" { INPUT \"a\" FRAMES 1 }\nMAIN { INPUT \"s\" }\n";
    };
    const std::string tooLarge = "ブロック a で指定された画像 (16000×16000) は大きすぎます。"
                                 "画素数は 67108864 までです。\nファイル：";
    const struct {
        const char *what;
        std::string text;
        std::string err;  // the whole standard error; "" for a scenario that is accepted
        bool render = false;
        std::string file = "in.txt";
    } rows[] = {
        {"frame rate 0", "SCREEN 64 48\nFRAMERATE 0\nMAIN { }\n",
         Heading + "in.txt : 2行目 :\nフレームレート値の下限値を超えています。"},
        {"scale 0", "SCREEN 64 48\nSCALE 0\nMAIN { }\n",
         Heading + "in.txt : 2行目 :\nスケール値の下限値を超えています。"},
        {"screen no renderer holds", "SCREEN 32767 32767\nMAIN { }\n",
         Heading + "in.txt : 1行目 :\nスクリーン幅の上限値を超えています。"},
        {"largest screen", "SCREEN 10000 10000\nMAIN { }\n", ""},
        {"UTF-8 with BOM", "\xEF\xBB\xBFSCREEN 64 48\nMAIN { }\n",
         Heading + "in.txt : 1行目 :\nこのファイルは UTF-8 で書かれています (先頭に BOM があります)。"
                   "シナリオは Shift-JIS で保存してください。"},
        {"NUL bytes", std::string("SCREEN 64 48\nMAIN { }\n\0\0", 24),
         Heading + "in.txt : 3行目 :\nこのファイルには NUL バイト (0x00) が含まれています。"
                   "テキストファイルではないか、壊れています。"},
        {"control byte in a quoted name", "SCREEN 64 48\nAUDIO \"song\x01.wav\"\nMAIN { }\n",
         Heading + "in.txt : 2行目 :\nオーディオファイル名に制御文字 (0x01) を含めることはできません。"},
        // A comment must end at a CR alone, and lines are counted by it.
        {"CR line ends", "SCREEN 64 48\r# a comment\rMAIN { }\rSCRREN 1\r",
         Heading + "in.txt : 4行目 :\nSCRREN の記述はできません。"},
        {"text named as a picture", showing("passwd.jpg"),
         "ブロック a で指定されたファイルは画像として読み込むことができません。\nファイル：passwd.jpg"},
        {"JPEG bomb", showing("bomb-16000.jpg"), tooLarge + "bomb-16000.jpg"},
        {"PNG bomb", showing("bomb-16000.png"), tooLarge + "bomb-16000.png"},
        {"cut-off JPEG", showing("cut.jpg"), "画像の作成に失敗しました。\nブロック a ファイル：cut.jpg",
         true},
        // Nothing but our message on standard error: not the decoder's own line either.
        {"damaged PNG stream", showing("damaged-stream.png"),
         "画像の作成に失敗しました。\nブロック a ファイル：damaged-stream.png", true},
        {"path with no Shift-JIS form", "SCREEN 64 48\nMAIN { }\n",
         Heading + "次のパスは Shift-JIS で表すことができません。\ncafé/in.txt", false,
         "café/in.txt"},
    };
    for (const auto &row : rows) {
        write(row.file, row.text);
        const vorn::test::CliRun result =
            row.render ? run({"render", QString::fromStdString(row.file), "0", "out.png"})
                       : run({"check", QString::fromStdString(row.file)});
        EXPECT_EQ(result.exitCode, row.err.empty() ? 0 : 1) << row.what;
        EXPECT_EQ(result.err, row.err.empty() ? "" : row.err + "\n") << row.what;
    }
}

TEST_F(CliScenarioTest, SizeQuestionIsAnsweredFromTheCommandLine)
{
    std::string big = "SCREEN 1 1\nMAIN { }\n";
    big.resize(10u * 1024u * 1024u + 1u, ' ');
    write("big.txt", big);
    const std::string question = "big.txt\nは、ファイルサイズが異常に大きいと思われます。続けますか？\n";
    vorn::test::CliRun yes = run({"check", "big.txt"});
    EXPECT_EQ(yes.exitCode, 0);
    EXPECT_EQ(yes.err, question);
    vorn::test::CliRun no = run({"check", "--answer", "no", "big.txt"});
    EXPECT_EQ(no.exitCode, 1);
    EXPECT_EQ(no.err, question);  // a "no" stops without an error message
}

TEST_F(CliScenarioTest, InfoPrintsTheSummaryInOrder)
{
    write("small.txt", "SCREEN 64 48\nFRAMERATE 2997\nSCALE 100\n"
                       "IMAGE \"a\" { FILE \"allkinds.bmp\" }\n"
                       "STILL \"s\" { INPUT \"a\" FRAMES 3 }\n"
                       "MAIN { INPUT \"s\" INPUT \"s\" }\n"
                       "CHECKPOINT { CT 1234 CF 37 0 255 0 }\n");
    vorn::test::CliRun info = run({"info", "small.txt"});
    ASSERT_EQ(info.exitCode, 0) << info.err;
    EXPECT_EQ(info.out,
              "{\"path\": \"small.txt\", \"audio\": null, \"screenWidth\": 64, "
              "\"screenHeight\": 48, \"frameRate\": 2997, \"scale\": 100, \"previewScale\": 4, "
              "\"boardBreak\": 1000, \"startFrame\": 0, \"totalFrames\": 6, "
              "\"keyFrames\": [0, 3, 5], \"blocks\": ["
              "{\"kind\": \"IMAGE\", \"name\": \"a\", \"frameCount\": 0, \"refCount\": 1}, "
              "{\"kind\": \"STILL\", \"name\": \"s\", \"frameCount\": 3, \"refCount\": 2}, "
              "{\"kind\": \"MAIN\", \"name\": \" \", \"frameCount\": 6, \"refCount\": 0}], "
              "\"checkpoints\": [{\"time\": 1234, \"frame\": 37, \"color\": [255, 255, 255, 255]}, "
              "{\"time\": 1235, \"frame\": 37, \"color\": [0, 255, 0, 255]}]}\n");

    vorn::test::CliRun all = run({"info", "allkinds.txt"});
    EXPECT_EQ(all.exitCode, 0) << all.err;
    EXPECT_NE(all.out.find("\"kind\": \"EXPAND\", \"name\": \"expandout\""), std::string::npos);
    EXPECT_EQ(run({"info", "nomain.txt"}).exitCode, 1);

    // The song is printed as a path of this machine, whichever separator the scenario used.
    write("music/song.wav", "");
    write("withsong.txt", "SCREEN 64 48\nAUDIO \"music\\song.wav\"\nMAIN { }\n");
    vorn::test::CliRun song = run({"info", "withsong.txt"});
    ASSERT_EQ(song.exitCode, 0) << song.err;
    EXPECT_NE(song.out.find("\"audio\": \"" + (m_dir.path() / "music/song.wav").string() + "\""),
              std::string::npos)
        << song.out;
}

TEST_F(CliScenarioTest, CheckpointsPutsScenarioMarksBackByColour)
{
    write("points.txt", "SCREEN 1 1\nFRAMERATE 2997\nSCALE 100\nMAIN { }\n"
                        "CHECKPOINT { CT 5000 255 0 0 CT 1000 0 255 255 }\n");
    vorn::test::CliRun points = run({"checkpoints", "points.txt", "--mark", "1:1234", "--mark", "2:1234"});
    ASSERT_EQ(points.exitCode, 0) << points.err;
    EXPECT_EQ(points.out, "CHECKPOINT\r\n{\r\n"
                          "\tCF\t30\t0\t255\t255\t# 1000\r\n"
                          "\tCF\t37\t0\t255\t0\t# 1234\r\n"
                          "\tCF\t37\t204\t204\t0\t# 1234\r\n"
                          "\tCF\t150\t204\t204\t0\t# 5000\r\n"
                          "}\r\n");
    EXPECT_EQ(run({"checkpoints", "points.txt", "--mark", "3:10"}).exitCode, 2);
    EXPECT_EQ(run({"checkpoints", "points.txt", "--mark"}).exitCode, 2);
    EXPECT_EQ(run({"checkpoints", "points.txt", "--mark", "1:x"}).exitCode, 2);
    EXPECT_EQ(run({"checkpoints", "points.txt", "--mark", "0:-5"}).exitCode, 2);
    EXPECT_EQ(run({"checkpoints", "missing.txt"}).exitCode, 1);
}

} // namespace
