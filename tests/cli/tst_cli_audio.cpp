// `vorn-scenario wav` and `beats` on generated songs: the JSON of an 8-bit mono song with the
// extensible format, the beats of a song with known beats, and the songs both refuse.
#include "support/beatsong.h"
#include "support/clirun.h"
#include "support/wavfile.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

using vorn::test::CliRun;

class CliAudioTest : public vorn::test::CliTest {
protected:
    QString write(const std::vector<uint8_t> &bytes, const std::string &name) const
    {
        vorn::test::writeFile(m_dir.path() / name, bytes);
        return arg(name);
    }
};

TEST_F(CliAudioTest, EightBitMonoWithExtensibleFormat)
{
    const vorn::test::WavLayout layout{.channels = 1, .samplesPerSec = 11025, .bitsPerSample = 8, .extensible = true};
    const QString song = write(vorn::test::wavBytes(layout, std::vector<uint8_t>(200000, 128)), "mono8.wav");
    const CliRun result = run({"wav", song, "--video-ms", "1000"});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    // endPosition: the 262,144-frame buffer outlasts 2,999 ms (33,064 frames).
    EXPECT_EQ(result.out,
              "{\"channels\": 1, \"samplesPerSec\": 11025, \"avgBytesPerSec\": 11025, "
              "\"bitsPerSample\": 8, \"blockAlign\": 1, \"formatSize\": 40, "
              "\"streamLength\": 200000, \"bufferSize\": 262144, \"lengthMs\": 18141, "
              "\"endPosition\": 262144}\n");
}

TEST_F(CliAudioTest, TooShortOrNoSongIsRefused)
{
    const QString tooShort = write(vorn::test::wavBytes({}, std::vector<uint8_t>(131068)), "short.wav");
    const QString text = write(std::vector<uint8_t>(200000, 'x'), "text.wav");
    for (const char *command : {"wav", "beats"})
        for (const QString &song : {tooShort, text}) {
            const CliRun result = run({command, song});
            EXPECT_EQ(result.exitCode, 1) << command << " " << song.toStdString();
            EXPECT_EQ(result.out, "");
            EXPECT_EQ(result.err, "オーディオ処理の初期化に失敗しました。\n");
        }
}

TEST_F(CliAudioTest, BeatsOfAGeneratedSong)
{
    const vorn::test::BeatSong song = vorn::test::beatSong(
        {.bpm = 126, .samplesPerSec = 22050, .seconds = 15, .offbeatStabs = true});
    const CliRun result = run({"beats", write(song.wav, "song.wav")});
    ASSERT_EQ(result.exitCode, 0) << result.err;

    QJsonParseError error;
    const QJsonObject object = QJsonDocument::fromJson(QByteArray::fromStdString(result.out), &error).object();
    ASSERT_EQ(error.error, QJsonParseError::NoError) << result.out;
    EXPECT_EQ(object.keys(), (QStringList{"beats_ms", "confidence", "tempo_bpm"}));
    EXPECT_NEAR(object.value("tempo_bpm").toDouble(), 126, 1.0) << result.out;
    // Kicks on every beat leave no doubt.
    EXPECT_GE(object.value("confidence").toDouble(), 0.5) << result.out;
    EXPECT_LE(object.value("confidence").toDouble(), 1.0) << result.out;
    std::vector<int32_t> beats;
    for (const QJsonValue &beat : object.value("beats_ms").toArray())
        beats.push_back(int32_t(beat.toInteger(-1)));
    EXPECT_TRUE(std::is_sorted(beats.begin(), beats.end()));
    EXPECT_GE(vorn::test::beatFMeasure(song.beatsMs, beats, 70), 0.9) << result.out;
}

} // namespace
