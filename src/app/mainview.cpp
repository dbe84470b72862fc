// CMainView: commands, keys, timer, drops and the two-phase replacement of scenario and song.
#include "app/mainview.h"

#include "app/beatdetection.h"
#include "app/calibrationdialog.h"
#include "app/imagewnd.h"
#include "app/markwnd.h"
#include "app/outputdialog.h"
#include "app/progresswnd.h"
#include "app/propertiesdialog.h"
#include "app/scenarioloader.h"
#include "app/shellservices.h"
#include "app/videoexportdialog.h"
#include "audio/portaudio/portaudiodevice.h"
#include "base/saturate.h"
#include "base/scenariopath.h"
#include "editor/scenariodialog.h"
#include "editor/sceneprop.h"
#include "scenario/model/scenario.h"
#include "scenario/model/scenariosaver.h"
#include "scenario/reader/linker.h"
#include "scenario/reader/loadscenario.h"
#include "timeline/checkpoint.h"
#include "timeline/labelfile.h"

#include <QAction>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QFrame>
#include <QKeyEvent>
#include <QMimeData>
#include <QResizeEvent>
#include <QUrl>
#include <QWheelEvent>

#include <cmath>
#include <mutex>

namespace vorn {

namespace {

const char *const MsgDropWhilePlaying = "再生中のファイルドロップには対応していません。";
const char *const MsgManyFiles = "複数のファイルのドロップには対応していません。";
const char *const MsgDiscardScenario = "現在のシナリオを破棄しますか？";
const char *const MsgUnknownType = "入力されたファイルの種類が不明です。";
const char *const MsgAudioFailed = "オーディオ処理の初期化に失敗しました。";
const char *const MsgSaveFailed = "シナリオの出力に失敗しました。";
const char *const MsgBadProperties = "設定値に問題があります。";
const char *const MsgBeatsFailed = "ビートの検出に失敗しました。";
const char *const MsgNoBeats = "ビートが見つかりませんでした。";
const char *const MsgBeatsCancelled = "ビートの検出を取り消しました。";
const char *const MsgReading = "シナリオを読み込んでいます...";
const char *const MsgReady = "レディ";
const char *const MsgExportMarksFailed = "マークの書き出しに失敗しました。";

// Video length of a scenario in song milliseconds, truncated; 0 when the rate cannot convert.
// Formed as a key frame's time is, saturating: frames x 1000 x scale passes even 64 bits.
int32_t videoLengthMs(const Scenario &scenario)
{
    return std::max(keyFrameTimeMs(scenario.totalFrames, scenario.frameRate, scenario.scale)
                        .value_or(0),
                    0);
}

PropertiesOutcome runPropertiesDialog(QWidget *parent, Scenario &scenario, const CAudioPlay *engine)
{
    CScenarioPropDlg dialog(parent);
    dialog.initialise(&scenario, engine ? &engine->clip() : nullptr);
    if (dialog.exec() != QDialog::Accepted)
        return PropertiesOutcome::Cancelled;
    switch (dialog.apply(&scenario)) {
    case CScenarioPropDlg::ApplyResult::Refused:
        return PropertiesOutcome::Refused;
    case CScenarioPropDlg::ApplyResult::Unchanged:
        return PropertiesOutcome::Unchanged;
    case CScenarioPropDlg::ApplyResult::Changed:
        break;
    }
    return PropertiesOutcome::Changed;
}

void runOutputDialog(QWidget *parent, const std::string &text)
{
    COutputDlg dialog(text, parent);
    dialog.exec();
}

} // namespace

// Carries engine replies from the engine thread to the view. The engine's sink may run after
// the view is gone (the thread outlives its handle), so it reaches the view only through this
// record, which the view empties when it dies.
struct CMainView::ReplyRelay {
    std::mutex mutex;
    CMainView *view = nullptr;

    void post(uint64_t engineId, AudioReply reply, int32_t wParam)
    {
        std::lock_guard lock(mutex);
        if (!view)
            return;
        CMainView *target = view;
        // Queued: runs on the interface thread, and is dropped with the view if it dies first.
        QMetaObject::invokeMethod(
            target, [target, engineId, reply, wParam] { target->engineReply(engineId, reply, wParam); },
            Qt::QueuedConnection);
    }
};

CMainView::CMainView(ShellServices services, QWidget *parent)
    : QWidget(parent), m_services(std::move(services)), m_relay(std::make_shared<ReplyRelay>())
{
    m_relay->view = this;
    if (!m_services.properties)
        m_services.properties = runPropertiesDialog;
    if (!m_services.output)
        m_services.output = runOutputDialog;
    if (!m_services.chooseBeatStrip)
        m_services.chooseBeatStrip = chooseBeatStripDialog;
    if (!m_services.calibrateTaps) {
        m_services.calibrateTaps = [factory = m_services.deviceFactory](QWidget *parent, int offsetMs) {
            CTapCalibrationDlg dialog(offsetMs, factory, parent);
            return dialog.exec() == QDialog::Accepted ? std::optional<int>(dialog.offsetMs()) : std::nullopt;
        };
    }
    m_taps.setTakeOnTick(m_services.tapsOnTick);

    setObjectName(QStringLiteral("mainView"));
    setAccessibleName(QStringLiteral("メインビュー"));
    setFocusPolicy(Qt::StrongFocus);
    setAcceptDrops(true);
    setAutoFillBackground(true);
    setBackgroundRole(QPalette::Base);

    m_waveform = new CProgressWnd(m_timeLine, this);
    m_waveform->makeScrollable();
    connect(m_waveform, &CProgressWnd::seekRequested, this, [this](int32_t position) {
        if (m_engine)
            m_engine->post(AP_SEEK, position);
    });
    connect(m_waveform, &CProgressWnd::rangeSelected, this, [this] { syncLoop(true); });
    connectStrip(m_waveform);
    for (int k = 0; k < MarkStrips::StripCount; ++k) {
        auto *strip = new CMarkWnd(m_timeLine, m_strips.strip(k), k, this);
        const Colour colour = MarkStrips::StripColours[size_t(k)];
        strip->setColour(colour.red, colour.green, colour.blue);
        m_waveform->link(strip);
        connect(strip, &CMarkWnd::showFrameRequested, this, &CMainView::showFrame);
        connectStrip(strip);
        m_markWnds[size_t(k)] = strip;
    }
    m_preview = new CImageWnd(this);
    connect(m_preview, &CImageWnd::statusText, this, &CMainView::setStatus);

    // The editor: the scenario tree and the property page of the selected block.
    m_treePanel = new CScenarioDialog(this);
    m_treePanel->setObjectName(QStringLiteral("treePanel"));
    m_treePanel->setAccessibleName(QStringLiteral("シナリオツリー"));
    EditorServices editorServices;
    editorServices.prompter = m_services.prompter;
    m_propertyHost = new CSceneProp(editorServices, this);
    m_propertyHost->setObjectName(QStringLiteral("propertyHost"));
    m_propertyHost->setAccessibleName(QStringLiteral("ブロックのプロパティ"));
    connectEditorPanels(*m_treePanel, *m_propertyHost);
    connect(m_treePanel, &CScenarioDialog::rangeSelected, this, &CMainView::selectRange);
    // An apply changes the live scenario: the frame rendering now must come back first, with
    // its pictures handed back before the caches go.
    connect(m_propertyHost, &CSceneProp::aboutToChangeScenario, this,
            &CMainView::releaseScenarioFromPreview, Qt::DirectConnection);
    connect(m_propertyHost, &CSceneProp::scenarioChanged, this, &CMainView::editorApplied);

    m_beats = new BeatDetection(this);
    connect(m_beats, &BeatDetection::finished, this, &CMainView::beatsFound);
    connect(m_beats, &BeatDetection::cancelled, this, [this] {
        setStatus(PaneMessage, QString::fromUtf8(MsgBeatsCancelled));
        updateActions();
    });
    m_loader = new ScenarioLoader(
        *m_services.prompter,
        [this](std::unique_ptr<Scenario> scenario) { scenarioRead(std::move(scenario)); }, this);

    m_timer.setTimerType(Qt::PreciseTimer);
    m_timer.setInterval(m_services.timerPeriodMs);
    connect(&m_timer, &QTimer::timeout, this, &CMainView::onTimerTick);

    makeActions();
    updateActions();
}

CMainView::~CMainView()
{
    {
        std::lock_guard lock(m_relay->mutex);
        m_relay->view = nullptr;
    }
    m_timer.stop();
    // A read still running reports to this view: it goes first.
    delete m_loader;
    m_loader = nullptr;
    // A beat detection and the onset search read the engine's clip: they end before it goes.
    waitForBeats();
    m_taps.forgetSong();
    // The preview's picture goes back to its scenario before the scenario dies.
    releaseScenarioFromPreview();
    // The child windows use the time line, the marks, the scenario and the engine's clip, which
    // are members: they go first.
    delete m_propertyHost;
    delete m_treePanel;
    delete m_preview;
    delete m_waveform;
    for (CMarkWnd *strip : m_markWnds)
        delete strip;
    // Dropping an engine handle posts AP_QUIT; the program waits for the threads at exit.
    m_pendingAudio.reset();
    m_engine.reset();
}

bool CMainView::waitForEngines(std::chrono::milliseconds timeout)
{
    return CAudioPlay::waitForAllEngines(timeout);
}

QAction *CMainView::addCommand(int id, const QString &text, const QString &shortcut,
                               const QString &tip, void (CMainView::*handler)())
{
    auto *action = new QAction(text, this);
    action->setObjectName(QStringLiteral("command%1").arg(id));
    action->setData(id);
    if (!shortcut.isEmpty())
        action->setShortcut(QKeySequence(shortcut));
    action->setStatusTip(tip);
    // Tool tips and screen readers read the text without the mnemonic and the key.
    QString plain = text;
    plain.remove(QStringLiteral("&"));
    action->setToolTip(plain.trimmed());
    if (handler)
        connect(action, &QAction::triggered, this, handler);
    m_actions.insert(id, action);
    return action;
}

void CMainView::makeActions()
{
    addCommand(ID_NEW, QStringLiteral("シナリオの新規作成 (&N)"), QStringLiteral("Ctrl+N"),
               QStringLiteral("新規にシナリオを作成します。"), &CMainView::onNew);
    addCommand(ID_OPEN, QStringLiteral("シナリオを開く (&O)"), QStringLiteral("Ctrl+O"),
               QStringLiteral("既存のシナリオファイルを開きます。"), &CMainView::onOpen);
    addCommand(ID_SAVE, QStringLiteral("シナリオを上書き保存 (&S)"), QStringLiteral("Ctrl+S"),
               QStringLiteral("作業中のシナリオをファイルに保存します。"), &CMainView::onSave);
    addCommand(ID_SAVE_AS, QStringLiteral("シナリオを名前を付けて保存 (&A)"), {}, {},
               &CMainView::onSaveAs);
    addCommand(ID_OUTPUT, QStringLiteral("クリップボード出力 (&D)"), {},
               QStringLiteral("チェックポイントデータをクリップボードにコピーします。"),
               &CMainView::onOutput);
    QAction *video = addCommand(ID_EXPORT_VIDEO, QStringLiteral("動画を書き出す (&V)..."), {},
                                QStringLiteral("シナリオの画像と曲を動画ファイルに書き出します。"), nullptr);
    connect(video, &QAction::triggered, this, [this] {
        if (m_scenario && exportVideoFromWindow(this, *m_scenario, *m_services.prompter))
            setStatus(PaneMessage, QStringLiteral("動画を書き出しました。"));
    });
    addCommand(ID_PLAY, QStringLiteral("再生 (&P)"), QStringLiteral("Shift+A"),
               QStringLiteral("WAVE ファイルの再生を開始します。"), &CMainView::onPlay);
    addCommand(ID_STOP, QStringLiteral("停止 (&X)"), QStringLiteral("Shift+X"),
               QStringLiteral("WAVE ファイルの再生を停止します。"), &CMainView::onStop);
    addCommand(ID_PAUSE, QStringLiteral("一時停止 (&S)"), QStringLiteral("Shift+S"),
               QStringLiteral("WAVE ファイルの再生を一時停止します。"), &CMainView::onPause);
    addCommand(ID_SPEED_NORMAL, QStringLiteral("等倍速 (&1)"), {},
               QStringLiteral("通常の速度で再生します。"), &CMainView::onSpeedNormal);
    addCommand(ID_SPEED_HALF, QStringLiteral("１／２倍速 (&2)"), {},
               QStringLiteral("通常の１／２の速度で再生します。"), &CMainView::onSpeedHalf);
    addCommand(ID_SPEED_QUARTER, QStringLiteral("１／４倍速 (&4)"), {},
               QStringLiteral("通常の１／４の速度で再生します。"), &CMainView::onSpeedQuarter);
    for (int id : {ID_SPEED_NORMAL, ID_SPEED_HALF, ID_SPEED_QUARTER})
        m_actions.value(id)->setCheckable(true);
    // Like the speeds, it takes effect at the next play.
    QAction *keepPitch = addCommand(ID_KEEP_PITCH, QStringLiteral("音程を保って再生 (&H)"), {},
                                    QStringLiteral("遅い速度でも曲の音程を変えずに再生します。"), nullptr);
    keepPitch->setCheckable(true);
    keepPitch->setChecked(true);
    connect(keepPitch, &QAction::toggled, this, [this](bool on) {
        if (m_engine)
            m_engine->setKeepPitch(on);
    });
    QAction *loop = addCommand(ID_LOOP_SELECTION, QStringLiteral("選択範囲をループ再生 (&L)"), {},
                               QStringLiteral("選択した範囲を繰り返し再生します。"), nullptr);
    loop->setCheckable(true);
    connect(loop, &QAction::toggled, this, [this] { syncLoop(true); });
    addCommand(ID_ZOOM_IN, QStringLiteral("拡大 (&Z)"), QStringLiteral("Z"),
               QStringLiteral("波形を拡大表示します。"), &CMainView::onZoomIn);
    addCommand(ID_ZOOM_OUT, QStringLiteral("縮小 (&O)"), QStringLiteral("Shift+Z"),
               QStringLiteral("波形を縮小表示します。"), &CMainView::onZoomOut);
    addCommand(ID_CURRENT_POSITION, QStringLiteral("現在の位置へ (&C)"), QStringLiteral("Shift+C"),
               QStringLiteral("現在の位置の波形を表示します。"), &CMainView::onCurrentPosition);
    addCommand(ID_SET_SONG, QStringLiteral("オーディオファイルの設定 (&A)"), {}, {},
               &CMainView::onSetSong);
    addCommand(ID_PROPERTIES, QStringLiteral("プロパティ (&P)"), {}, {}, &CMainView::onProperties);
    addCommand(ID_DETECT_BEATS, QStringLiteral("ビートを検出 (&B)"), {},
               QStringLiteral("曲のビートを検出してマークにします。"), &CMainView::onDetectBeats);
    // A plain check mark: the timer reads it while playing; nothing else happens on a toggle.
    addCommand(ID_FOLLOW_PREVIEW, QStringLiteral("再生に合わせてプレビュー (&F)"), {},
               QStringLiteral("再生中の位置の画像をプレビューに表示し続けます。"), nullptr)
        ->setCheckable(true);
    addCommand(ID_EXPORT_MARKS, QStringLiteral("マークを書き出す..."), {},
               QStringLiteral("マークをラベルファイルに書き出します。"), &CMainView::onExportMarks);
    addCommand(ID_IMPORT_MARKS, QStringLiteral("マークを読み込む..."), {},
               QStringLiteral("ラベルファイルのマークで置き換えます。"), &CMainView::onImportMarks);
    QAction *clicks = addCommand(ID_MARK_CLICKS, QStringLiteral("マークでクリック音 (&K)"), {},
                                 QStringLiteral("再生中、マークの位置でクリック音を鳴らします。"), nullptr);
    clicks->setCheckable(true);
    connect(clicks, &QAction::toggled, this, &CMainView::syncMarkClicks);
    QAction *snap = addCommand(ID_SNAP_ONSETS, QStringLiteral("オンセットに吸着 (&G)"), {},
                               QStringLiteral("タップを近くの音の立ち上がりに合わせます。"), nullptr);
    snap->setCheckable(true);
    connect(snap, &QAction::toggled, this, [this](bool on) { m_taps.setSnap(on); });
    addCommand(ID_CALIBRATE_TAPS, QStringLiteral("タップのタイミング調整 (&T)..."), {},
               QStringLiteral("クリック音に合わせたタップから、タップの遅れを測ります。"),
               &CMainView::onCalibrateTaps);
    addCommand(ID_UNDO, QStringLiteral("元に戻す (&U)"), QStringLiteral("Ctrl+Z"),
               QStringLiteral("直前のマークの変更を取り消します。"), &CMainView::onUndo);
    addCommand(ID_REDO, QStringLiteral("やり直し (&R)"), QStringLiteral("Ctrl+Y"),
               QStringLiteral("取り消したマークの変更をやり直します。"), &CMainView::onRedo);
    // Launching the renderer is not offered: the button is there, always disabled.
    addCommand(ID_LAUNCH_RENDERER, QStringLiteral("「ぬ」を起動"), {},
               QStringLiteral("「ぬ」を起動します。（未実装）"), nullptr);
    for (QAction *action : std::as_const(m_actions))
        addAction(action);
}

void CMainView::connectStrip(CScrollBaseWnd *strip)
{
    connect(strip, &CScrollBaseWnd::statusText, this, &CMainView::setStatus);
    connect(strip, &CScrollBaseWnd::focusToView, this, [this] { setFocus(Qt::OtherFocusReason); });
}

void CMainView::setStatusPanes(std::function<void(int, const QString &)> setText)
{
    m_setStatus = std::move(setText);
}

void CMainView::setStatus(int pane, const QString &text)
{
    if (m_setStatus)
        m_setStatus(pane, text);
}

bool CMainView::isPlaying() const
{
    return m_engine && m_engine->state() == CAudioPlay::Playing;
}

void CMainView::updateActions()
{
    const bool idle = !m_pendingScenario && !m_pendingAudio && !readingScenario();
    const bool playing = isPlaying();
    const CAudioPlay::State state = m_engine ? m_engine->state() : CAudioPlay::Empty;
    const bool ready = m_engine && state == CAudioPlay::Ready;
    const bool haveScenario = m_scenario != nullptr;
    auto set = [this](int id, bool enabled) { m_actions.value(id)->setEnabled(enabled); };

    set(ID_NEW, idle && !playing);
    set(ID_OPEN, idle && !playing);
    set(ID_SAVE, idle && haveScenario && !playing);
    set(ID_SAVE_AS, idle && haveScenario && !playing);
    set(ID_EXPORT_VIDEO, idle && haveScenario && !playing);
    set(ID_OUTPUT, idle && m_engine && !playing);
    set(ID_PLAY, idle && ready);
    set(ID_STOP, idle && m_engine && (state == CAudioPlay::Playing || state == CAudioPlay::Ready));
    set(ID_PAUSE, idle && playing);
    const int32_t divisor = m_engine ? m_engine->clip().speedDivisor() : 0;
    const std::pair<int, int32_t> speeds[] = {
        {ID_SPEED_NORMAL, 1}, {ID_SPEED_HALF, 2}, {ID_SPEED_QUARTER, 4}};
    for (const auto &[id, speed] : speeds) {
        // A beat detection reads the clip whose format a speed change rewrites.
        set(id, idle && ready && !detectingBeats());
        // Without an engine the check marks stay as they were.
        if (m_engine)
            m_actions.value(id)->setChecked(divisor == speed);
    }
    set(ID_ZOOM_IN, idle && haveScenario);
    set(ID_ZOOM_OUT, idle && haveScenario);
    set(ID_CURRENT_POSITION, idle && m_engine);
    set(ID_SET_SONG, idle && haveScenario && !playing);
    set(ID_PROPERTIES, idle && haveScenario && !playing);
    set(ID_LAUNCH_RENDERER, false);
    set(ID_DETECT_BEATS, idle && ready && !detectingBeats());
    set(ID_FOLLOW_PREVIEW, true);
    set(ID_EXPORT_MARKS, idle && m_engine);
    set(ID_IMPORT_MARKS, idle && m_engine && !playing);
    set(ID_UNDO, m_history.canUndo());
    set(ID_REDO, m_history.canRedo());
    set(ID_MARK_CLICKS, true);
    set(ID_SNAP_ONSETS, true);
    set(ID_KEEP_PITCH, true);
    set(ID_LOOP_SELECTION, true);
    set(ID_CALIBRATE_TAPS, idle && ready && !detectingBeats());
    syncMarkClicks();

    // The editor panels are usable only while the song (if any) rests.
    const bool panels = !m_engine || state == CAudioPlay::Ready;
    m_treePanel->setEnabled(panels);
    m_propertyHost->setEnabled(panels);
}

void CMainView::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    layoutChildren(event->size().width(), event->size().height());
}

void CMainView::layoutChildren(int cx, int cy)
{
    const int w = cx - PanelWidth;
    m_waveform->setGeometry(0, 0, w / 5, cy);
    for (int k = 0; k < MarkStrips::StripCount; ++k)
        m_markWnds[size_t(k)]->setGeometry(w * (k + 2) / 10, 0, w / 10, cy);
    m_treePanel->setGeometry(w * 6 / 10, 0, w * 4 / 10, cy);
    m_propertyHost->setGeometry(w, 0, PanelWidth, PropertyHostHeight);
    m_preview->setGeometry(w, PropertyHostHeight, PanelWidth, cy - PropertyHostHeight);
}

void CMainView::keyPressEvent(QKeyEvent *event)
{
    // The press counts from its own moment, not from when a tick gets round to it.
    const auto pressed = keyPressMoment(event->timestamp(), std::chrono::steady_clock::now());
    switch (event->key()) {
    case Qt::Key_Left:
        m_taps.press(0, pressed, m_engine.get());
        break;
    case Qt::Key_Down:
        m_taps.press(1, pressed, m_engine.get());
        break;
    case Qt::Key_Right:
        m_taps.press(2, pressed, m_engine.get());
        break;
    case Qt::Key_Delete:
        // At most one strip has a hovered mark: leaving a strip forgets its hover.
        marksChanged(m_history.removeHoveredMark());
        break;
    default:
        QWidget::keyPressEvent(event);
        return;
    }
    event->accept();
}

void CMainView::wheelEvent(QWheelEvent *event)
{
    m_waveform->wheel(event->angleDelta().y());
    event->accept();
}

void CMainView::dragEnterEvent(QDragEnterEvent *event)
{
    if (event->mimeData()->hasUrls())
        event->acceptProposedAction();
}

void CMainView::dropEvent(QDropEvent *event)
{
    QStringList names;
    for (const QUrl &url : event->mimeData()->urls())
        names.push_back(url.isLocalFile() ? url.toLocalFile() : url.toString());
    event->acceptProposedAction();
    dropFiles(names);
}

void CMainView::dropFiles(const QStringList &names)
{
    if (m_engine && m_engine->state() != CAudioPlay::Ready) {
        m_services.prompter->showError(MsgDropWhilePlaying);
        return;
    }
    if (names.size() != 1) {
        m_services.prompter->showError(MsgManyFiles);
        return;
    }
    // A scenario waiting for its song is the user's work too (Set song, Properties).
    if ((m_scenario || m_pendingScenario) && !m_services.prompter->askOkCancel(MsgDiscardScenario))
        return;
    openFile(names.front());
}

void CMainView::openFile(const QString &name)
{
    if (m_engine && m_engine->state() != CAudioPlay::Ready) {
        m_services.prompter->showError(MsgDropWhilePlaying);
        return;
    }
    std::unique_ptr<Scenario> scenario;
    // The type is the exact ending: "X.WAV" is not a song.
    if (name.endsWith(QStringLiteral(".txt"), Qt::CaseSensitive)) {
        startScenarioRead(name);
        return;
    } else if (name.endsWith(QStringLiteral(".wav"), Qt::CaseSensitive)) {
        scenario = makeNewScenario(*m_services.prompter);
        const std::filesystem::path song = std::filesystem::absolute(name.toStdString());
        const auto audio = pathToSjis(song);
        if (scenario && !audio)
            m_services.prompter->showError(notSjisMessage(song));
        if (scenario && (!audio || scenario->setAudio(*audio) != 0))
            scenario.reset();
    } else {
        m_services.prompter->showError(MsgUnknownType);
        return;
    }
    if (scenario)
        takePending(std::move(scenario));
}

bool CMainView::readingScenario() const
{
    return m_loader && m_loader->isLoading();
}

void CMainView::startScenarioRead(const QString &name)
{
    // Whatever was on its way is replaced by this file.
    abandonPending();
    // Absolute, so that a later Save writes where the file came from whatever the working
    // directory; INCLUDEs and pictures resolve against the file's own folder.
    m_loader->start(std::filesystem::absolute(name.toStdString()));
    setStatus(PaneMessage, QString::fromUtf8(MsgReading));
    updateActions();
}

void CMainView::scenarioRead(std::unique_ptr<Scenario> scenario)
{
    setStatus(PaneMessage, QString::fromUtf8(MsgReady));
    if (scenario)
        takePending(std::move(scenario));
    updateActions();
}

void CMainView::takePending(std::unique_ptr<Scenario> scenario)
{
    // A load still running for an earlier file is abandoned: its reply will be ignored.
    abandonPending();
    m_pendingScenario = std::move(scenario);
    if (m_pendingScenario->audio) {
        startAudioLoad();
    } else {
        installScenario();
        repaintStrips();
        emit scenarioInstalled(false);
    }
    updateActions();
}

void CMainView::abandonPending()
{
    m_loader->abandon();
    m_pendingAudio.reset();
    m_pendingAudioId = 0;
    m_pendingScenario.reset();
}

void CMainView::startAudioLoad()
{
    const uint64_t id = m_nextEngineId++;
    std::weak_ptr<ReplyRelay> relay = m_relay;
    auto sink = [relay, id](AudioReply reply, int32_t wParam) {
        if (auto target = relay.lock())
            target->post(id, reply, wParam);
    };
    m_pendingAudio = std::make_unique<CAudioPlay>(sink, m_services.deviceFactory);
    m_pendingAudio->setKeepPitch(m_actions.value(ID_KEEP_PITCH)->isChecked());
    m_pendingAudioId = id;
    const auto song = resolveScenarioName(*m_pendingScenario->audio, {});
    m_pendingAudio->setPath(song ? *song : std::filesystem::path());
    m_pendingAudio->setVideoLength(videoLengthMs(*m_pendingScenario));
    m_pendingAudio->post(AP_LOAD);
    updateActions();
}

void CMainView::engineReply(uint64_t engineId, AudioReply reply, int32_t wParam)
{
    if (reply == AP_LOADED) {
        if (engineId == m_pendingAudioId && m_pendingAudio)
            songLoaded(wParam == 0);
        return;  // a load that was abandoned or replaced
    }
    // The interface follows the engine's state, which it reads directly.
    if (engineId == m_engineId)
        updateActions();
}

void CMainView::songLoaded(bool ok)
{
    if (!ok) {
        m_pendingAudio.reset();
        m_pendingAudioId = 0;
        m_pendingScenario.reset();
        // When the scenario that failed was the current one (Set song, Properties), its old
        // song goes with it: an engine without a scenario would offer play and output for
        // nothing on screen.
        if (!m_scenario)
            quitEngine();
        updateActions();
        m_services.prompter->showError(MsgAudioFailed);
        update();
        return;
    }
    std::unique_ptr<CAudioPlay> engine = std::move(m_pendingAudio);
    const uint64_t engineId = m_pendingAudioId;
    m_pendingAudioId = 0;
    installScenario();
    m_strips.addCheckpoints(m_scenario->checkpoints, engine->clip());
    m_engine = std::move(engine);
    m_engineId = engineId;
    m_waveform->setSong(&m_engine->clip());
    rebuildKeyFrameMarks();
    m_waveform->resetView();
    m_waveform->setTotal(m_engine->clip().endPosition());
    loadTapOffset();
    m_taps.findOnsets(m_engine->clip());
    if (soundDeviceMissing())
        setStatus(PaneMessage, QString::fromUtf8(NoSoundDeviceMessage));
    repaintStrips();
    updateActions();
    emit scenarioInstalled(true);
}

void CMainView::installScenario()
{
    // The editor lets go of the old scenario before it is freed.
    showInEditor(m_pendingScenario.get());
    m_timeLine.setSelection(-1, -1);
    for (CMarkWnd *strip : m_markWnds)
        strip->clear();
    m_history.clear();
    quitEngine();
    // Waits for a frame of the old scenario still rendering and hands its pictures back
    // before the old scenario is freed.
    m_preview->setScenario(m_pendingScenario.get());
    m_scenario = std::move(m_pendingScenario);
    rebuildKeyFrameMarks();
}

void CMainView::showInEditor(Scenario *scenario)
{
    m_propertyHost->showBlock(nullptr);
    m_treePanel->setScenario(scenario);
}

void CMainView::editorApplied()
{
    m_preview->setScenario(m_scenario.get());
    rebuildKeyFrameMarks();
    repaintStrips();
}

void CMainView::releaseScenarioFromPreview()
{
    // Nothing may change or free a scenario while a frame of it renders, and its picture goes
    // back to it first.
    m_preview->detachScenario();
}

void CMainView::quitEngine()
{
    // A beat detection still reading this engine's clip ends first; its result is dropped.
    waitForBeats();
    m_taps.forgetSong();
    // Dropping the handle posts AP_QUIT; replies still on their way are ignored by identity.
    // The strip draws from the engine's clip: let go of it before the engine goes.
    m_waveform->setSong(nullptr);
    m_engine.reset();
    m_engineId = 0;
}

void CMainView::rebuildKeyFrameMarks()
{
    if (!m_scenario)
        return;
    Scenario &s = *m_scenario;
    // One walk of the block tree instead of asking MAIN frame by frame.
    const std::vector<int32_t> keyFrames = s.keyFrames();
    if (m_engine) {
        m_engine->setVideoLength(videoLengthMs(s));
        m_waveform->setTotal(m_engine->clip().endPosition());
        m_strips.rebuildKeyFrameMarks(m_timeLine, keyFrames, s.frameRate, s.scale,
                                      &m_engine->clip());
    } else {
        // A tenth more, saturating: a scenario may hold nearly 2^31 frames.
        m_waveform->setTotal(clampToInt32(int64_t(s.totalFrames) + s.totalFrames / 10));
        m_strips.rebuildKeyFrameMarks(m_timeLine, keyFrames, s.frameRate, s.scale,
                                      nullptr);
    }
    repaintStrips();
}

void CMainView::repaintStrips()
{
    m_waveform->repaintStrip();
    repaintMarkStrips();
}

void CMainView::repaintMarkStrips()
{
    for (CMarkWnd *strip : m_markWnds)
        strip->repaintStrip();
}

void CMainView::onTimerTick()
{
    if (!m_engine) {
        m_timer.stop();
        return;
    }
    const CAudioPlay::State state = m_engine->state();
    if (state != CAudioPlay::Playing) {
        // Nothing will play again without a command, which restarts the timer.
        if (state == CAudioPlay::Ready || state == CAudioPlay::Empty) {
            m_timer.stop();
            updateActions();
        }
        return;
    }
    int32_t ms = 0;
    int32_t position = 0;
    if (m_engine->position(ms, position) != 0)
        return;
    m_waveform->drawCursor(ms, position);
    // Keys pressed before playback started mark its first position.
    m_taps.takeRequests(ms, position);
    for (CMarkWnd *strip : m_markWnds)
        strip->tick(false, ms, position);
    // After the marks: a render request must never hold back a tap.
    if (m_actions.value(ID_FOLLOW_PREVIEW)->isChecked())
        followPlayback(ms);
    updateActions();
}

int32_t CMainView::frameAtMs(int32_t ms) const
{
    const Scenario &s = *m_scenario;
    return (s.frameRate > 0 && s.scale > 0) ? msToVideoFrame(ms, s.frameRate, s.scale) : -1;
}

void CMainView::followPlayback(int32_t ms)
{
    // One frame at a time: while the preview renders, the cursor moves on without it and the
    // next idle tick asks for the frame of that moment.
    if (!m_scenario || m_preview->isBusy())
        return;
    const int32_t frame = frameAtMs(ms);
    if (frame < 0 || frame >= m_scenario->totalFrames || frame == m_preview->wantedFrame())
        return;
    m_previewFrame = frame;
    m_preview->showFrame(frame);
}

void CMainView::showFrame(int32_t position)
{
    if (!m_scenario)
        return;
    const Scenario &s = *m_scenario;
    int32_t frame = position;
    if (m_engine)
        frame = frameAtMs(m_engine->clip().sampleFramesToMs(position));
    m_previewFrame = frame;
    if (frame >= 0 && frame < s.totalFrames)
        m_preview->showFrame(frame);
    repaintMarkStrips();
}

void CMainView::selectRange(int32_t firstFrame, int32_t lastFrame)
{
    auto toPosition = [this](int32_t frame) {
        if (!m_engine || !m_scenario || m_scenario->frameRate <= 0)
            return frame;
        const Scenario &s = *m_scenario;
        const int32_t ms = truncToInt32(s.scale * (frame * 1000.0) / s.frameRate + 0.5);
        return m_engine->clip().msToSampleFrames(ms);
    };
    const int32_t first = toPosition(firstFrame);
    const int32_t last = toPosition(lastFrame);
    m_waveform->setSelection(first, last);
    for (CMarkWnd *strip : m_markWnds)
        strip->setSelection(first, last);
}

// ---- Commands --------------------------------------------------------------------------

void CMainView::onNew()
{
    // The marks stay on screen, but they no longer belong to what undo would restore.
    m_history.clear();
    quitEngine();
    releaseScenarioFromPreview();
    showInEditor(nullptr);
    m_scenario = makeNewScenario(*m_services.prompter);
    m_preview->setScenario(m_scenario.get());
    showInEditor(m_scenario.get());
    updateActions();
}

void CMainView::onOpen()
{
    if (const auto chosen = m_services.files->openScenario())
        startScenarioRead(*chosen);
}

void CMainView::onSave()
{
    if (!m_scenario)
        return;
    if (!m_scenario->path) {
        onSaveAs();
        return;
    }
    const auto file = resolveScenarioName(*m_scenario->path, {});
    if (!file) {
        m_services.prompter->showError(MsgSaveFailed);
        return;
    }
    ScenarioSaver(*m_services.prompter).save(*m_scenario, *file);
}

void CMainView::onSaveAs()
{
    if (!m_scenario)
        return;
    if (takeChosenName(m_services.files->saveScenario(), &Scenario::setPath, MsgSaveFailed))
        onSave();
}

bool CMainView::takeChosenName(const std::optional<QString> &chosen,
                               int32_t (Scenario::*set)(std::string_view), const char *failure)
{
    if (!chosen)
        return false;
    // Absolute, so that the name means the same file whatever the working directory.
    const std::filesystem::path path = std::filesystem::absolute(chosen->toStdString());
    const auto name = pathToSjis(path);
    if (!name) {
        m_services.prompter->showError(notSjisMessage(path));
        return false;
    }
    if ((m_scenario.get()->*set)(*name) != 0) {
        m_services.prompter->showError(failure);
        return false;
    }
    return true;
}

void CMainView::onOutput()
{
    if (!m_scenario)
        return;
    m_services.output(this, m_strips.buildCheckpointText(m_scenario->frameRate, m_scenario->scale));
}

void CMainView::onPlay()
{
    if (!m_engine)
        return;
    syncLoop(false);
    m_engine->post(AP_PLAY);
    if (m_services.timerPeriodMs > 0)
        m_timer.start();
    updateActions();
}

void CMainView::onStop()
{
    if (!m_engine)
        return;
    m_engine->post(AP_STOP);
    m_waveform->repaintStrip();
    m_waveform->drawCursor(-1, 0);
    updateActions();
}

void CMainView::onPause()
{
    if (m_engine)
        m_engine->post(AP_PAUSE);
    updateActions();
}

// Hands the selected range to the engine as its loop while looping is on. The engine takes a
// loop at the next play: while playing, `restart` reopens the device at the next block (inside
// a new loop, or at its start).
void CMainView::syncLoop(bool restart)
{
    if (!m_engine)
        return;
    const int32_t start = m_timeLine.selectionStart();
    const int32_t end = m_timeLine.selectionEnd();
    const bool on = m_actions.value(ID_LOOP_SELECTION)->isChecked() && start >= 0 && end > start;
    m_engine->setLoop(on ? start : 0, on ? end : 0);
    int32_t ms = 0;
    int32_t frames = 0;
    if (restart && m_engine->state() == CAudioPlay::Playing && m_engine->position(ms, frames) == 0)
        m_engine->post(AP_SEEK, frames);
}

void CMainView::setSpeed(int32_t divisor)
{
    if (m_engine && !detectingBeats())
        m_engine->setSpeed(divisor);
    updateActions();
}

void CMainView::onZoomIn()
{
    m_waveform->zoomIn();
    repaintMarkStrips();
}

void CMainView::onZoomOut()
{
    m_waveform->zoomOut();
    repaintMarkStrips();
}

void CMainView::onCurrentPosition()
{
    if (!m_engine)
        return;
    m_waveform->scrollTo(m_engine->readPosition());
    repaintMarkStrips();
}

void CMainView::onSetSong()
{
    if (!m_scenario)
        return;
    if (!takeChosenName(m_services.files->openSong(), &Scenario::setAudio, MsgAudioFailed))
        return;
    releaseScenarioFromPreview();
    showInEditor(nullptr);
    takePending(std::move(m_scenario));  // it has a song now: the song is loaded
}

void CMainView::onProperties()
{
    if (!m_scenario)
        return;
    // The dialog writes into the scenario: no frame of it may be rendering meanwhile.
    releaseScenarioFromPreview();
    Scenario &s = *m_scenario;
    const std::array<int32_t, 7> before{s.screenWidth, s.screenHeight, s.frameRate, s.scale,
                                        s.previewScale, s.boardBreak, s.startFrame};
    const PropertiesOutcome outcome = m_services.properties(this, s, m_engine.get());
    if (outcome == PropertiesOutcome::Refused)
        m_services.prompter->showError(MsgBadProperties);
    if (outcome != PropertiesOutcome::Changed) {
        m_preview->setScenario(m_scenario.get());
        return;
    }
    // Pictures made for the old screen are stale; linking fits the blocks to the new one.
    s.dropCaches();
    if (link(s) != 0) {
        // The linker said why; the scenario keeps its former settings.
        s.screenWidth = before[0];
        s.screenHeight = before[1];
        s.frameRate = before[2];
        s.scale = before[3];
        s.previewScale = before[4];
        s.boardBreak = before[5];
        s.startFrame = before[6];
        s.dropCaches();
        link(s);
        m_preview->setScenario(m_scenario.get());
        return;
    }
    showInEditor(nullptr);
    takePending(std::move(m_scenario));
}

void CMainView::onDetectBeats()
{
    if (!m_engine || m_engine->state() != CAudioPlay::Ready || detectingBeats())
        return;
    const std::optional<int> strip = m_services.chooseBeatStrip(this);
    // The dialog ran its own event loop: the song may have changed or started meanwhile.
    if (!strip || *strip < 0 || *strip >= MarkStrips::WrittenStripCount || !m_engine ||
        m_engine->state() != CAudioPlay::Ready || detectingBeats())
        return;
    m_beatStrip = *strip;
    // The clip stays loaded and unchanged while the worker reads it: replacing or dropping the
    // engine stops the worker first (quitEngine), and the speed commands that rewrite the clip's
    // format rest until the marks are in.
    m_beats->start(m_engine->clip(), m_engineId);
    updateActions();
}

bool CMainView::detectingBeats() const
{
    return m_beats->running();
}

QProgressDialog *CMainView::beatProgress() const
{
    return m_beats->progress();
}

void CMainView::onExportMarks()
{
    const auto chosen = m_services.files->saveLabels();
    if (!chosen || !m_engine)
        return;
    if (writeLabelFile(chosen->toStdString(), m_strips, m_engine->clip()) != 0)
        m_services.prompter->showError(MsgExportMarksFailed);
}

void CMainView::onImportMarks()
{
    const auto chosen = m_services.files->openLabels();
    if (!chosen || !m_engine || isPlaying())
        return;
    const LabelTrack track = readLabelFile(chosen->toStdString(), m_engine->clip());
    if (!track.error.empty()) {
        // A bad file changes nothing; it says where it went wrong.
        const QString name = QFileInfo(*chosen).fileName();
        m_services.prompter->showError(labelTrackMessage(track, name.toStdString()));
        return;
    }
    marksChanged(m_history.replaceAll(track.marks));
}

void CMainView::onUndo()
{
    marksChanged(m_history.undo());
}

void CMainView::onRedo()
{
    marksChanged(m_history.redo());
}

void CMainView::syncMarkClicks()
{
    if (!m_engine)
        return;
    const bool on = m_actions.value(ID_MARK_CLICKS)->isChecked();
    const std::pair<uint64_t, uint64_t> wanted{m_engineId, on ? m_history.revision() + 1 : 0};
    if (wanted == m_clicksSent)
        return;
    m_clicksSent = wanted;
    m_engine->setMarkClicks(on ? std::make_shared<const MarkClicks>(m_strips.clickPositions()) : nullptr);
}

void CMainView::loadTapOffset()
{
    const int ms = m_engine ? loadTapOffsetMs(m_services.settingsFile,
                                              QString::fromStdString(m_engine->deviceName()))
                            : 0;
    m_taps.setOffsetMs(ms);
    emit tapOffsetChanged(ms);
}

void CMainView::onCalibrateTaps()
{
    if (!m_engine || m_engine->state() != CAudioPlay::Ready)
        return;
    // The dialog runs its own event loop: the song may be replaced meanwhile.
    const std::optional<int> offset = m_services.calibrateTaps(this, m_taps.offsetMs());
    if (!offset || !m_engine)
        return;
    storeTapOffsetMs(m_services.settingsFile, QString::fromStdString(m_engine->deviceName()), *offset);
    loadTapOffset();
}

void CMainView::marksChanged(unsigned strips)
{
    for (int k = 0; k < MarkStrips::StripCount; ++k)
        if (strips & (1u << k))
            m_markWnds[size_t(k)]->repaintStrip();
    updateActions();
}

void CMainView::waitForBeats()
{
    m_beats->stop();
}

void CMainView::beatsFound(uint64_t engineId, const BeatResult &result, bool failed)
{
    // A result whose song was replaced meanwhile is not this song's.
    if (!m_engine || engineId != m_engineId)
        return;
    if (failed) {
        m_services.prompter->showError(MsgBeatsFailed);
    } else if (result.beatsMs.empty()) {
        setStatus(PaneMessage, QString::fromUtf8(MsgNoBeats));
    } else {
        // Like taps: time and position from the song; one step for undo.
        const AudioClip &clip = m_engine->clip();
        std::vector<Mark> marks;
        marks.reserve(result.beatsMs.size());
        for (int32_t ms : result.beatsMs)
            marks.push_back({ms, clip.msToSampleFrames(ms), {}});
        marksChanged(m_history.appendMarks(m_beatStrip, marks));
        // The confidence tells the user whether to check the marks or tap by hand instead.
        setStatus(PaneMessage, QStringLiteral("ビートを %1 個マークにしました (信頼度 %2%)。")
                                   .arg(result.beatsMs.size())
                                   .arg(std::lround(result.confidence * 100)));
    }
    updateActions();
}

} // namespace vorn
