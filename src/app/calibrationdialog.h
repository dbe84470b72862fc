// CTapCalibrationDlg: the listener taps along to a click track; their offset is measured.
#pragma once

#include "audio/caudioplay.h"
#include "timeline/tapcalibration.h"

#include <QDialog>
#include <QTemporaryDir>

#include <memory>
#include <vector>

class QLabel;
class QPushButton;
class QSpinBox;

namespace vorn {

// Plays the click track through a new engine on the device the songs play on, takes an arrow
// key as a tap at the moment it was pressed (as the main view does), and when the track ends
// shows the measured offset or why it was refused. The spin box holds the offset to keep: the
// measured one, or one typed in. Modal; interface thread only.
class CTapCalibrationDlg : public QDialog
{
    Q_OBJECT

public:
    // `offsetMs` is the offset in use; `deviceFactory` makes the sound device (empty: the
    // program's default).
    CTapCalibrationDlg(int offsetMs, SoundDeviceFactory deviceFactory, QWidget *parent = nullptr);
    ~CTapCalibrationDlg() override;

    // The offset to keep, in milliseconds of wall time (positive: the listener taps late).
    int offsetMs() const;

    // Starts the click track (the start button); a run in progress starts over.
    void start();
    QPushButton *startButton() const { return m_start; }
    QSpinBox *offsetBox() const { return m_offset; }
    QLabel *resultLabel() const { return m_result; }
    CAudioPlay *engine() const { return m_engine.get(); }
    const std::vector<double> &taps() const { return m_taps; }

protected:
    void keyPressEvent(QKeyEvent *event) override;

private:
    struct Relay;
    void engineReply(uint64_t run, AudioReply reply, int32_t wParam);
    void finish();
    void stopEngine();

    SoundDeviceFactory m_deviceFactory;
    std::shared_ptr<Relay> m_relay;
    std::unique_ptr<CAudioPlay> m_engine;
    uint64_t m_run = 0;
    QTemporaryDir m_dir;
    std::vector<double> m_taps;
    QLabel *m_progress = nullptr;
    QLabel *m_result = nullptr;
    QPushButton *m_start = nullptr;
    QSpinBox *m_offset = nullptr;
};

// The tap offsets kept per sound device (SoundDevice::name) in the settings: `settingsFile`
// (an INI file) or, when empty, the program's own settings. 0 for a device never calibrated.
int loadTapOffsetMs(const QString &settingsFile, const QString &device);
void storeTapOffsetMs(const QString &settingsFile, const QString &device, int ms);

} // namespace vorn
