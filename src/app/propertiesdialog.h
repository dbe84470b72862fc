// CScenarioPropDlg: the scenario's global settings for editing, with its video and song lengths.
#pragma once

#include <QDialog>

#include <array>
#include <cstdint>

class QLineEdit;
class QString;

namespace vorn {

class AudioClip;
class Scenario;

// Modal; interface thread only. Use: initialise, exec, and on Accepted apply.
class CScenarioPropDlg : public QDialog
{
    Q_OBJECT

public:
    enum class ApplyResult {
        Refused,    // a value is out of range; nothing was written ("設定値に問題があります。")
        Unchanged,  // accepted, every value as it was at initialise (or no scenario)
        Changed,    // accepted and written; at least one value differs: reinstall the scenario
    };

    // The seven edits in their order on the page.
    enum Field { Width, Height, FrameRate, Scale, PreviewScale, BoardBreak, StartFrame, FieldCount };

    explicit CScenarioPropDlg(QWidget *parent = nullptr);

    // Fills the edits from the scenario and remembers their values; the lengths read "-" when
    // the scenario has no frames (or none is given) and when there is no song. With an engine,
    // pass its clip (engine ? &engine->clip() : nullptr); it is read only here.
    void initialise(const Scenario *scenario, const AudioClip *song = nullptr);

    // Reads the edits (decimal; leading blanks and a sign allowed, reading stops at the first
    // non-digit, no digits read as 0) and checks them in field order: width 80..10000, height
    // 60..10000, frame rate, scale, preview scale and board break >= 1, start frame >= 0. A
    // value that does not fit 32 bits is out of range. Writes all seven into the scenario only
    // when all pass. Without a scenario: Unchanged.
    ApplyResult apply(Scenario *scenario);
    // Whether the last apply wrote values differing from those at initialise (false after a
    // refusal and before any apply).
    bool changed() const { return m_changed; }

    // For tests and accessibility checks.
    QLineEdit *edit(Field field) const { return m_edits[field]; }
    QString totalFramesText() const;
    QString videoLengthText() const;
    QString songLengthText() const;

private:
    std::array<QLineEdit *, FieldCount> m_edits{};
    std::array<int32_t, FieldCount> m_initial{};
    QLineEdit *m_totalFrames = nullptr;
    QLineEdit *m_videoLength = nullptr;
    QLineEdit *m_songLength = nullptr;
    bool m_changed = false;
};

} // namespace vorn
