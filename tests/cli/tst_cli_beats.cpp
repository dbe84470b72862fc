// Tests of `vorn-scenario beats`: the JSON of a generated song with known beats, the refusal
// message and the usage errors.
#include "support/beatsong.h"
#include "support/clirun.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

using vorn::test::CliRun;

class CliBeatsTest : public vorn::test::CliTest {
protected:
    CliRun runBeats(const QStringList &args) const { return run(QStringList{"beats"} + args); }
    QString write(const std::vector<uint8_t> &bytes, const std::string &name) const
    {
        vorn::test::writeFile(m_dir.path() / name, bytes);
        return arg(name);
    }
};

TEST_F(CliBeatsTest, GeneratedSong)
{
    vorn::test::BeatSongRecipe recipe;
    recipe.bpm = 126;
    recipe.offbeatStabs = true;
    recipe.samplesPerSec = 22050;
    recipe.seconds = 15;
    const vorn::test::BeatSong song = vorn::test::beatSong(recipe);
    const CliRun run = runBeats({write(song.wav, "song.wav")});
    ASSERT_EQ(run.exitCode, 0) << run.err;

    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString(run.out), &error);
    ASSERT_EQ(error.error, QJsonParseError::NoError) << run.out;
    const QJsonObject object = doc.object();
    EXPECT_EQ(object.keys(), (QStringList{"beats_ms", "confidence", "tempo_bpm"}));
    EXPECT_NEAR(object.value("tempo_bpm").toDouble(), 126, 1.0) << run.out;
    // Kicks on every beat leave no doubt.
    EXPECT_GE(object.value("confidence").toDouble(), 0.5) << run.out;
    EXPECT_LE(object.value("confidence").toDouble(), 1.0) << run.out;
    std::vector<int32_t> beats;
    for (const QJsonValue &beat : object.value("beats_ms").toArray()) {
        ASSERT_TRUE(beat.isDouble());
        beats.push_back(int32_t(beat.toInteger(-1)));
    }
    EXPECT_TRUE(std::is_sorted(beats.begin(), beats.end()));
    EXPECT_GE(vorn::test::beatFMeasure(song.beatsMs, beats, 70), 0.9) << run.out;
}

TEST_F(CliBeatsTest, RefusalsAndUsage)
{
    const std::string loadFailed = "オーディオ処理の初期化に失敗しました。\n";
    const QString tooShort = write(vorn::test::wavBytes({}, std::vector<uint8_t>(131068)), "short.wav");
    const QString text = write(std::vector<uint8_t>(200000, 'x'), "text.wav");
    for (const QString &song : {arg("missing.wav"), tooShort, text}) {
        const CliRun run = runBeats({song});
        EXPECT_EQ(run.exitCode, 1) << song.toStdString();
        EXPECT_TRUE(run.out.empty()) << run.out;
        // Qt may add its own start-up notes; the message is the last line.
        ASSERT_GE(run.err.size(), loadFailed.size());
        EXPECT_EQ(run.err.substr(run.err.size() - loadFailed.size()), loadFailed) << run.err;
    }

    for (const QStringList &args : {QStringList{}, QStringList{text, text}, QStringList{text, "--speed"}}) {
        const CliRun run = runBeats(args);
        EXPECT_EQ(run.exitCode, 2) << args.join(' ').toStdString();
        EXPECT_NE(run.err.find("usage: vorn-scenario beats SONG.wav"), std::string::npos) << run.err;
    }
    const CliRun help = run({QStringLiteral("--help")});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_NE(help.out.find("beats SONG.wav"), std::string::npos) << help.out;
}

} // namespace
