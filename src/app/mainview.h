// CMainView: the main window's client area. Owns the scenario, the playback engine, the strips,
// the preview and the editor panels; turns commands, keys, the wheel, drops and the timer into
// operations on them, and replaces a scenario and its song in two phases.
#pragma once

#include "audio/beattracker.h"
#include "app/taptaker.h"
#include "audio/caudioplay.h"
#include "timeline/markhistory.h"
#include "timeline/markstrips.h"
#include "timeline/timeline.h"

#include <QHash>
#include <QTimer>
#include <QWidget>

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

class QAction;
class QFrame;
class QLabel;
class QProgressDialog;

namespace vorn {

class BeatDetection;
class CImageWnd;
class CSceneProp;
class CScenarioDialog;
class CMarkWnd;
class CProgressWnd;
class CScrollBaseWnd;
class FileChooser;
class Scenario;
class ScenarioLoader;
class ShellPrompter;

// Command identifiers: menu items, tool-bar buttons and their enable rules.
enum CommandId : int {
    ID_PLAY = 32771,
    ID_STOP = 32772,
    ID_PAUSE = 32773,
    ID_OUTPUT = 32778,
    ID_SPEED_HALF = 32786,
    ID_SPEED_NORMAL = 32789,
    ID_SPEED_QUARTER = 32790,
    ID_ZOOM_IN = 32794,
    ID_ZOOM_OUT = 32795,
    ID_CURRENT_POSITION = 32799,
    ID_NEW = 32810,
    ID_OPEN = 32811,
    ID_SAVE = 32812,
    ID_LAUNCH_RENDERER = 32813,
    ID_SAVE_AS = 32821,
    ID_PROPERTIES = 32828,
    ID_SET_SONG = 32829,
    ID_DETECT_BEATS = 32830,
    ID_FOLLOW_PREVIEW = 32831,
    ID_EXPORT_VIDEO = 32840,
    ID_EXPORT_MARKS = 32850,
    ID_IMPORT_MARKS = 32851,
    ID_MARK_CLICKS = 32852,
    ID_CALIBRATE_TAPS = 32853,
    ID_SNAP_ONSETS = 32854,
    ID_KEEP_PITCH = 32855,
    ID_LOOP_SELECTION = 32856,
    ID_UNDO = 57643,
    ID_REDO = 57644,
    ID_VIEW_TOOLBAR = 59392,
    ID_VIEW_STATUS_BAR = 59393,
    ID_ABOUT = 57664,
    ID_EXIT = 57665,
};

// What the properties command got from its dialog.
enum class PropertiesOutcome { Cancelled, Refused, Unchanged, Changed };

// Everything the view asks the outside world: message boxes, file names, the sound device and
// the modal dialogs. Tests replace them; the program uses the real ones.
struct ShellServices {
    ShellPrompter *prompter = nullptr;  // must outlive the view
    FileChooser *files = nullptr;       // must outlive the view
    SoundDeviceFactory deviceFactory;   // empty: PortAudio, or the simulated device without one
    // Shows the properties dialog for the scenario (and the engine's song, when there is one)
    // and applies the values on OK. Empty: the real dialog.
    std::function<PropertiesOutcome(QWidget *parent, Scenario &scenario, const CAudioPlay *engine)>
        properties;
    // Shows the CHECKPOINT text in the output dialog. Empty: the real dialog.
    std::function<void(QWidget *parent, const std::string &text)> output;
    // Asks which mark strip (0, 1 or 2) detected beats go to; none cancels. Empty: the real
    // dialog.
    std::function<std::optional<int>(QWidget *parent)> chooseBeatStrip;
    // Period of the playback timer that play starts; 0: no timer (tests call onTimerTick).
    int timerPeriodMs = 5;
    // Arrow keys wait for the next tick even while playing (to measure against that path).
    bool tapsOnTick = false;
    // Runs the tap calibration with the offset in use; gives the offset to keep, or none when
    // the user cancels. Empty: the real dialog on the engine's device.
    std::function<std::optional<int>(QWidget *parent, int offsetMs)> calibrateTaps;
    // Where tap offsets are kept (an INI file); empty: the program's own settings.
    QString settingsFile;
};

// The four status-bar panes: message, playback time, hovered mark time, preview frame.
enum StatusPane : int { PaneMessage = 0, PanePlayTime = 1, PaneMarkTime = 2, PaneFrame = 3 };

class CMainView : public QWidget {
    Q_OBJECT

public:
    // Width of the property host and the preview, right of the strips and the tree panel.
    static constexpr int PanelWidth = 250;
    // Height of the property host; the preview takes the rest.
    static constexpr int PropertyHostHeight = 360;

    explicit CMainView(ShellServices services, QWidget *parent = nullptr);
    ~CMainView() override;

    // The action of a command this view handles (every command but the bars, exit and about).
    QAction *action(int commandId) const { return m_actions.value(commandId); }
    // Where the view and the strips write pane texts; the frame's labels.
    void setStatusPanes(std::function<void(int pane, const QString &text)> setText);

    // Opens a ".txt" scenario or makes a new scenario for a ".wav" song (command line, drops).
    void openFile(const QString &name);
    // The drop of one or more files, as the window receives it.
    void dropFiles(const QStringList &names);

    // Evaluates every command's enable rule, check marks and the panels' enabled state.
    void updateActions();
    // One timer tick; also what the 5 ms timer calls.
    void onTimerTick();
    // A mark strip asked for the picture at a time-line position.
    void showFrame(int32_t position);
    // The tree panel selected a block covering frames first .. last.
    void selectRange(int32_t firstFrame, int32_t lastFrame);
    // The scenario was changed by an editor apply: key frames and lengths follow.
    void rebuildKeyFrameMarks();

    // State, for the frame and for tests.
    Scenario *scenario() const { return m_scenario.get(); }
    Scenario *pendingScenario() const { return m_pendingScenario.get(); }
    // True while a scenario file is read (on a thread of its own); it then waits as pending.
    bool readingScenario() const;
    CAudioPlay *engine() const { return m_engine.get(); }
    CAudioPlay *pendingAudio() const { return m_pendingAudio.get(); }
    bool isPlaying() const;
    bool timerActive() const { return m_timer.isActive(); }
    int32_t addRequest(int strip) const
    {
        return strip < MarkStrips::WrittenStripCount ? m_taps.request(strip) : 0;
    }
    int32_t previewFrame() const { return m_previewFrame; }
    // True from the beat command's start until its marks are in (or its result was dropped).
    bool detectingBeats() const;
    // The progress window shown meanwhile, with its Cancel button; null otherwise.
    QProgressDialog *beatProgress() const;
    MarkStrips &markStrips() { return m_strips; }
    MarkHistory &markHistory() { return m_history; }
    TapTaker &taps() { return m_taps; }
    TimeLine &timeLine() { return m_timeLine; }
    CProgressWnd *waveformStrip() const { return m_waveform; }
    CMarkWnd *markStrip(int k) const { return m_markWnds[size_t(k)]; }
    CImageWnd *preview() const { return m_preview; }
    CScenarioDialog *treePanel() const { return m_treePanel; }
    CSceneProp *propertyHost() const { return m_propertyHost; }
    // Waits until no engine thread this process made is left (program exit); true when none.
    static bool waitForEngines(std::chrono::milliseconds timeout);

    // The tap offset in use for the current song's device (0 without a song).
    int tapOffsetMs() const { return m_taps.offsetMs(); }

signals:
    // A scenario became current: with its song loaded (songLoaded true) or without one.
    void scenarioInstalled(bool songLoaded);
    // The tap offset in use changed (a song on another device, or a calibration).
    void tapOffsetChanged(int ms);

protected:
    void resizeEvent(QResizeEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void wheelEvent(QWheelEvent *event) override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dropEvent(QDropEvent *event) override;

private:
    struct ReplyRelay;

    void makeActions();
    QAction *addCommand(int id, const QString &text, const QString &shortcut, const QString &tip,
                        void (CMainView::*handler)());
    void layoutChildren(int width, int height);
    void setStatus(int pane, const QString &text);
    void connectStrip(CScrollBaseWnd *strip);

    // Commands.
    void onNew();
    void onOpen();
    void onSave();
    void onSaveAs();
    void onOutput();
    void onPlay();
    void onStop();
    void onPause();
    void onSpeedNormal() { setSpeed(1); }
    void onSpeedHalf() { setSpeed(2); }
    void onSpeedQuarter() { setSpeed(4); }
    void setSpeed(int32_t divisor);
    void syncLoop(bool restart);
    void onZoomIn();
    void onZoomOut();
    void onCurrentPosition();
    void onSetSong();
    void onProperties();
    void onDetectBeats();
    void onExportMarks();
    void onImportMarks();
    void onCalibrateTaps();
    // Takes the tap offset kept for the current engine's device.
    void loadTapOffset();
    void onUndo();
    void onRedo();
    // With the click command checked, gives the engine the marks as they are now (when they or
    // the engine changed since); unchecked, no clicks.
    void syncMarkClicks();
    // Repaints the strips whose bits are set (bit k for strip k) after a change of marks.
    void marksChanged(unsigned strips);
    // The worker's beats arrived on the interface thread: marks in the chosen strip, unless
    // the song they came from has been replaced meanwhile.
    void beatsFound(uint64_t engineId, const BeatResult &result, bool failed);
    // Stops a beat detection still reading the engine's clip (before the engine goes).
    void waitForBeats();
    // While playing with the follow command checked: the frame at `ms` to the preview, unless
    // it renders or was asked for that frame already.
    void followPlayback(int32_t ms);
    // Video frame at song time `ms` in the current scenario; -1 when the rate cannot convert.
    int32_t frameAtMs(int32_t ms) const;
    // The file chosen in a dialog, made absolute and handed to the scenario's `set`; false when
    // nothing was chosen, or when the name was refused (then `failure` is shown).
    bool takeChosenName(const std::optional<QString> &chosen,
                        int32_t (Scenario::*set)(std::string_view), const char *failure);

    // Replacing the scenario and its song.
    void startScenarioRead(const QString &name);
    void scenarioRead(std::unique_ptr<Scenario> scenario);
    void takePending(std::unique_ptr<Scenario> scenario);
    void abandonPending();
    void startAudioLoad();
    void engineReply(uint64_t engineId, AudioReply reply, int32_t wParam);
    void songLoaded(bool ok);
    void installScenario();
    void releaseScenarioFromPreview();
    void showInEditor(Scenario *scenario);
    void editorApplied();
    void quitEngine();
    void repaintStrips();
    void repaintMarkStrips();

    ShellServices m_services;
    std::shared_ptr<ReplyRelay> m_relay;
    QHash<int, QAction *> m_actions;
    std::function<void(int, const QString &)> m_setStatus;

    std::unique_ptr<Scenario> m_scenario;
    std::unique_ptr<Scenario> m_pendingScenario;
    std::unique_ptr<CAudioPlay> m_engine;
    std::unique_ptr<CAudioPlay> m_pendingAudio;
    uint64_t m_engineId = 0;
    uint64_t m_pendingAudioId = 0;
    uint64_t m_nextEngineId = 1;
    int32_t m_previewFrame = -1;
    // Beat detection and the strip its marks go to; the reader of scenario files.
    BeatDetection *m_beats = nullptr;
    int m_beatStrip = 0;
    ScenarioLoader *m_loader = nullptr;

    TimeLine m_timeLine;
    MarkStrips m_strips;
    MarkHistory m_history{m_strips};
    TapTaker m_taps{m_strips, m_history};
    std::pair<uint64_t, uint64_t> m_clicksSent{0, 0};  // engine id and mark revision sent
    CProgressWnd *m_waveform = nullptr;
    std::array<CMarkWnd *, MarkStrips::StripCount> m_markWnds{};
    CImageWnd *m_preview = nullptr;
    CScenarioDialog *m_treePanel = nullptr;
    CSceneProp *m_propertyHost = nullptr;
    QTimer m_timer;
};

} // namespace vorn
