// CScenarioPropDlg: the page of global settings, its limits and its write-back.
#include "app/propertiesdialog.h"
#include "base/leadinginteger.h"

#include "audio/audioclip.h"
#include "scenario/model/scenario.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QVBoxLayout>

#include <limits>
#include <optional>

namespace vorn {

namespace {

struct Limits {
    int32_t lowest;
    int32_t highest;
};

// In field order; apply stops at the first value outside its range.
constexpr std::array<Limits, CScenarioPropDlg::FieldCount> fieldLimits{{
    {80, 10000},
    {60, 10000},
    {1, std::numeric_limits<int32_t>::max()},
    {1, std::numeric_limits<int32_t>::max()},
    {1, std::numeric_limits<int32_t>::max()},
    {1, std::numeric_limits<int32_t>::max()},
    {0, std::numeric_limits<int32_t>::max()},
}};

// The scenario's settings in field order; const or not with the scenario.
template <typename S>
auto fieldsOf(S &s)
{
    return std::array{&s.screenWidth, &s.screenHeight, &s.frameRate, &s.scale,
                      &s.previewScale, &s.boardBreak,  &s.startFrame};
}

QLabel *label(const QString &text, QWidget *buddy = nullptr)
{
    auto *l = new QLabel(text);
    l->setAccessibleName(text);
    if (buddy)
        l->setBuddy(buddy);
    return l;
}

// A length shown as text. A flat read-only line rather than a label, so that a screen reader
// finds it by its caption and still reads the value as its text.
QLineEdit *valueText(const QString &caption)
{
    auto *e = new QLineEdit(QStringLiteral("-"));
    e->setReadOnly(true);
    e->setFrame(false);
    e->setFocusPolicy(Qt::NoFocus);
    QPalette flat = e->palette();
    flat.setColor(QPalette::Base, flat.color(QPalette::Window));
    e->setPalette(flat);
    e->setAccessibleName(caption);
    return e;
}

// The reading rule of apply, on one text; none when the value does not fit 32 bits.
std::optional<int32_t> readDecimal(const QString &text)
{
    qsizetype i = 0;
    while (i < text.size() && QStringView(u" \t\n\r\v\f").contains(text[i]))  // C's blanks
        ++i;
    const int64_t value = leadingInteger(
        std::u16string_view(QStringView(text).utf16(), size_t(text.size())), size_t(i));
    if (value < std::numeric_limits<int32_t>::min() || value > std::numeric_limits<int32_t>::max())
        return std::nullopt;
    return int32_t(value);
}

} // namespace

CScenarioPropDlg::CScenarioPropDlg(QWidget *parent)
    : QDialog(parent)
{
    setWindowTitle(QStringLiteral("シナリオのプロパティ"));
    setModal(true);

    // The edits take digits only, as typed; apply still reads any text by its own rule.
    static const QRegularExpression digits(QStringLiteral("[0-9]*"));
    const QString names[FieldCount] = {
        QStringLiteral("幅"),
        QStringLiteral("高"),
        QStringLiteral("フレームレート"),
        QStringLiteral("スケール"),
        QStringLiteral("プレビュースケール"),
        QStringLiteral("いたわり時間"),
        QStringLiteral("レンダリング開始フレーム"),
    };
    for (int f = 0; f < FieldCount; ++f) {
        auto *e = new QLineEdit;
        e->setValidator(new QRegularExpressionValidator(digits, e));
        e->setAccessibleName(names[f]);
        e->setMaximumWidth(90);
        m_edits[f] = e;
    }

    auto *settings = new QGroupBox(QStringLiteral("設定項目"));
    settings->setAccessibleName(settings->title());
    auto *grid = new QGridLayout(settings);
    grid->addWidget(label(QStringLiteral("スクリーンサイズ")), 0, 0);
    grid->addWidget(label(QStringLiteral("幅"), m_edits[Width]), 0, 1, Qt::AlignRight);
    grid->addWidget(m_edits[Width], 0, 2);
    grid->addWidget(label(QStringLiteral("高"), m_edits[Height]), 0, 3, Qt::AlignRight);
    grid->addWidget(m_edits[Height], 0, 4);
    grid->addWidget(label(QStringLiteral("フレームレート／スケール"), m_edits[FrameRate]), 1, 0);
    grid->addWidget(m_edits[FrameRate], 1, 2);
    grid->addWidget(label(QStringLiteral("／"), m_edits[Scale]), 1, 3, Qt::AlignRight);
    grid->addWidget(m_edits[Scale], 1, 4);
    grid->addWidget(label(QStringLiteral("[fps]")), 1, 5);
    grid->addWidget(label(QStringLiteral("プレビュースケール"), m_edits[PreviewScale]), 2, 0);
    grid->addWidget(m_edits[PreviewScale], 2, 2);
    grid->addWidget(label(QStringLiteral("いたわり時間"), m_edits[BoardBreak]), 3, 0);
    grid->addWidget(m_edits[BoardBreak], 3, 2);
    grid->addWidget(label(QStringLiteral("レンダリング開始フレーム"), m_edits[StartFrame]), 4, 0);
    grid->addWidget(m_edits[StartFrame], 4, 2);
    grid->setColumnStretch(6, 1);

    m_totalFrames = valueText(QStringLiteral("全フレーム数"));
    m_videoLength = valueText(QStringLiteral("ビデオ長"));
    m_songLength = valueText(QStringLiteral("オーディオ長"));

    auto *video = new QGroupBox(QStringLiteral("ビデオ情報"));
    video->setAccessibleName(video->title());
    auto *videoGrid = new QGridLayout(video);
    videoGrid->addWidget(label(QStringLiteral("全フレーム数"), m_totalFrames), 0, 0);
    videoGrid->addWidget(m_totalFrames, 0, 1);
    videoGrid->addWidget(label(QStringLiteral("ビデオ長"), m_videoLength), 1, 0);
    videoGrid->addWidget(m_videoLength, 1, 1);
    videoGrid->setColumnStretch(1, 1);

    auto *audio = new QGroupBox(QStringLiteral("オーディオ情報"));
    audio->setAccessibleName(audio->title());
    auto *audioGrid = new QGridLayout(audio);
    audioGrid->addWidget(label(QStringLiteral("オーディオ長"), m_songLength), 0, 0);
    audioGrid->addWidget(m_songLength, 0, 1);
    audioGrid->setColumnStretch(1, 1);

    auto *ok = new QPushButton(QStringLiteral("OK"));
    auto *cancel = new QPushButton(QStringLiteral("キャンセル"));
    ok->setAccessibleName(ok->text());
    ok->setDefault(true);
    cancel->setAccessibleName(cancel->text());
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    // OK before Cancel whatever the desktop's usual button order.
    auto *buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(ok);
    buttons->addWidget(cancel);

    auto *page = new QVBoxLayout(this);
    page->addWidget(settings);
    page->addWidget(video);
    page->addWidget(audio);
    page->addStretch(1);
    page->addLayout(buttons);

    // Tab order follows the table of the page: the seven edits, then OK and Cancel.
    for (int f = 0; f + 1 < FieldCount; ++f)
        setTabOrder(m_edits[f], m_edits[f + 1]);
    setTabOrder(m_edits[StartFrame], ok);
    setTabOrder(ok, cancel);
}

void CScenarioPropDlg::initialise(const Scenario *scenario, const AudioClip *song)
{
    m_changed = false;
    m_totalFrames->setText(QStringLiteral("-"));
    m_videoLength->setText(QStringLiteral("-"));
    if (scenario) {
        const Scenario &s = *scenario;
        const auto fields = fieldsOf(s);
        for (int f = 0; f < FieldCount; ++f) {
            m_initial[f] = *fields[f];
            m_edits[f]->setText(QString::number(m_initial[f]));
        }
        if (s.totalFrames != 0) {
            m_totalFrames->setText(QString::number(s.totalFrames));
            // A read scenario always has a positive rate; one that has not would divide by 0.
            if (s.frameRate > 0)
                m_videoLength->setText(QString::number(
                    double(s.totalFrames) * double(s.scale) / double(s.frameRate), 'f', 3));
        }
    } else {
        for (auto *e : m_edits)
            e->clear();
        m_initial.fill(0);
    }
    m_songLength->setText(song ? QString::number(song->lengthMs() / 1000.0, 'f', 3)
                               : QStringLiteral("-"));
}

CScenarioPropDlg::ApplyResult CScenarioPropDlg::apply(Scenario *scenario)
{
    if (!scenario)
        return ApplyResult::Unchanged;
    m_changed = false;
    std::array<int32_t, FieldCount> values{};
    bool differs = false;
    for (int f = 0; f < FieldCount; ++f) {
        const auto value = readDecimal(m_edits[f]->text());
        if (!value || *value < fieldLimits[f].lowest || *value > fieldLimits[f].highest)
            return ApplyResult::Refused;
        values[f] = *value;
        differs = differs || *value != m_initial[f];
    }
    const auto fields = fieldsOf(*scenario);
    for (int f = 0; f < FieldCount; ++f)
        *fields[f] = values[f];
    m_changed = differs;
    return differs ? ApplyResult::Changed : ApplyResult::Unchanged;
}

QString CScenarioPropDlg::totalFramesText() const
{
    return m_totalFrames->text();
}

QString CScenarioPropDlg::videoLengthText() const
{
    return m_videoLength->text();
}

QString CScenarioPropDlg::songLengthText() const
{
    return m_songLength->text();
}

} // namespace vorn
