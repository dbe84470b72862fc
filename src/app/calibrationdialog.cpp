// CTapCalibrationDlg: the click track played, the taps taken and the offset measured.
#include "app/calibrationdialog.h"

#include "app/taptaker.h"

#include <QDialogButtonBox>
#include <QFile>
#include <QFormLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QSettings>
#include <QSpinBox>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>
#include <mutex>

namespace vorn {

namespace {

std::unique_ptr<QSettings> openSettings(const QString &file)
{
    if (!file.isEmpty())
        return std::make_unique<QSettings>(file, QSettings::IniFormat);
    return std::make_unique<QSettings>(QStringLiteral("vorn"), QStringLiteral("vorn-checkpoint"));
}

QString offsetKey(QString device)
{
    // A slash would open a group of its own.
    device.replace(QLatin1Char('/'), QLatin1Char('_')).replace(QLatin1Char('\\'), QLatin1Char('_'));
    return QStringLiteral("tapOffsetMs/") + device;
}

} // namespace

int loadTapOffsetMs(const QString &settingsFile, const QString &device)
{
    bool ok = false;
    const int ms = openSettings(settingsFile)->value(offsetKey(device)).toInt(&ok);
    return ok ? std::clamp(ms, -500, 500) : 0;
}

void storeTapOffsetMs(const QString &settingsFile, const QString &device, int ms)
{
    openSettings(settingsFile)->setValue(offsetKey(device), ms);
}

// The engine's replies come on its own thread and may outlive the dialog: they reach it only
// through this record, which the dialog empties when it dies.
struct CTapCalibrationDlg::Relay {
    std::mutex mutex;
    CTapCalibrationDlg *dialog = nullptr;
};

CTapCalibrationDlg::CTapCalibrationDlg(int offsetMs, SoundDeviceFactory deviceFactory, QWidget *parent)
    : QDialog(parent), m_deviceFactory(std::move(deviceFactory)), m_relay(std::make_shared<Relay>())
{
    m_relay->dialog = this;
    setWindowTitle(QStringLiteral("タップのタイミング調整"));
    setAccessibleName(QStringLiteral("タップのタイミング調整"));
    auto *layout = new QVBoxLayout(this);
    auto *intro = new QLabel(QStringLiteral("「開始」を押すとクリック音が %1 回鳴ります。\n"
                                            "クリックに合わせて矢印キーを押してください"
                                            "（最初の %2 回は数えません）。")
                                 .arg(ClickTrack::Count)
                                 .arg(DroppedTaps),
                             this);
    intro->setWordWrap(true);
    layout->addWidget(intro);
    // The labels' texts are their names, as a screen reader reads a label.
    m_progress = new QLabel(this);
    layout->addWidget(m_progress);
    m_result = new QLabel(this);
    m_result->setObjectName(QStringLiteral("calibrationResult"));
    m_result->setWordWrap(true);
    layout->addWidget(m_result);

    auto *form = new QFormLayout;
    m_offset = new QSpinBox(this);
    m_offset->setObjectName(QStringLiteral("tapOffset"));
    m_offset->setAccessibleName(QStringLiteral("タップのオフセット"));
    m_offset->setRange(-500, 500);
    m_offset->setSuffix(QStringLiteral(" ms"));
    m_offset->setValue(offsetMs);
    // Arrow keys are taps here, not steps of the box.
    m_offset->setFocusPolicy(Qt::ClickFocus);
    form->addRow(QStringLiteral("オフセット (&O):"), m_offset);
    layout->addLayout(form);

    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    m_start = buttons->addButton(QStringLiteral("開始 (&S)"), QDialogButtonBox::ActionRole);
    m_start->setAccessibleName(QStringLiteral("開始"));
    for (QAbstractButton *button : buttons->buttons())
        button->setFocusPolicy(Qt::NoFocus);  // the arrow keys stay with the dialog
    connect(m_start, &QPushButton::clicked, this, &CTapCalibrationDlg::start);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
    setFocusPolicy(Qt::StrongFocus);
    setMinimumWidth(460);  // the instructions on two lines, not squeezed into four
}

CTapCalibrationDlg::~CTapCalibrationDlg()
{
    {
        std::lock_guard lock(m_relay->mutex);
        m_relay->dialog = nullptr;
    }
    stopEngine();
}

int CTapCalibrationDlg::offsetMs() const
{
    return m_offset->value();
}

void CTapCalibrationDlg::stopEngine()
{
    // Dropping the handle ends the engine thread (it posts AP_QUIT).
    m_engine.reset();
}

void CTapCalibrationDlg::start()
{
    stopEngine();
    m_taps.clear();
    m_result->clear();
    const QString path = m_dir.filePath(QStringLiteral("clicks.wav"));
    QFile file(path);
    const std::vector<uint8_t> wav = ClickTrack::wavBytes();
    if (!m_dir.isValid() || !file.open(QIODevice::WriteOnly | QIODevice::Truncate)
        || file.write(reinterpret_cast<const char *>(wav.data()), qint64(wav.size())) != qint64(wav.size())) {
        m_result->setText(QStringLiteral("クリック音を用意できませんでした。"));
        return;
    }
    file.close();
    const uint64_t run = ++m_run;
    std::weak_ptr<Relay> relay = m_relay;
    auto sink = [relay, run](AudioReply reply, int32_t wParam) {
        auto target = relay.lock();
        if (!target)
            return;
        std::lock_guard lock(target->mutex);
        if (CTapCalibrationDlg *dialog = target->dialog)
            QMetaObject::invokeMethod(
                dialog, [dialog, run, reply, wParam] { dialog->engineReply(run, reply, wParam); },
                Qt::QueuedConnection);
    };
    m_engine = std::make_unique<CAudioPlay>(sink, m_deviceFactory);
    m_engine->setPath(path.toStdString());
    m_engine->post(AP_LOAD);
    m_progress->setText(QStringLiteral("準備中..."));
    setFocus(Qt::OtherFocusReason);
}

void CTapCalibrationDlg::engineReply(uint64_t run, AudioReply reply, int32_t wParam)
{
    if (run != m_run || !m_engine)
        return;
    switch (reply) {
    case AP_LOADED:
        if (wParam == 0)
            m_engine->post(AP_PLAY);
        else
            m_result->setText(QStringLiteral("クリック音を再生できませんでした。"));
        break;
    case AP_STARTED:
        if (wParam == 0)
            m_progress->setText(QStringLiteral("タップ: 0 回"));
        else
            m_result->setText(QStringLiteral("クリック音を再生できませんでした。"));
        break;
    case AP_FINISHED:
        finish();
        break;
    default:
        break;
    }
}

void CTapCalibrationDlg::keyPressEvent(QKeyEvent *event)
{
    switch (event->key()) {
    case Qt::Key_Left:
    case Qt::Key_Down:
    case Qt::Key_Right:
    case Qt::Key_Up: {
        const auto pressed = keyPressMoment(event->timestamp(), std::chrono::steady_clock::now());
        int32_t ms = 0;
        int32_t frames = 0;
        if (m_engine && m_engine->state() == CAudioPlay::Playing
            && m_engine->positionAt(pressed, ms, frames) == 0) {
            // To the sample, not to the millisecond: the median is taken of small numbers.
            m_taps.push_back(frames * 1000.0 / ClickTrack::Rate);
            m_progress->setText(QStringLiteral("タップ: %1 回").arg(m_taps.size()));
        }
        event->accept();
        return;
    }
    default:
        QDialog::keyPressEvent(event);
    }
}

void CTapCalibrationDlg::finish()
{
    const Calibration result = calibrateTaps(m_taps);
    if (!result.ok) {
        m_result->setText(QString::fromStdString(result.refusal));
        return;
    }
    m_offset->setValue(int(std::lround(result.offsetMs)));
    m_result->setText(QStringLiteral("オフセット: %1 ms（ばらつき %2 ms、%3 回）")
                          .arg(std::lround(result.offsetMs))
                          .arg(std::lround(result.spreadMs))
                          .arg(result.used));
}

} // namespace vorn
