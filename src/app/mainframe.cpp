// CMainFrame: menus, tool bar and status bar around the main view.
#include "app/mainframe.h"

#include "app/aboutdialog.h"
#include "app/appicons.h"

#include <QAction>
#include <QFontMetrics>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QSizeGrip>
#include <QStatusBar>
#include <QToolBar>

namespace vorn {

const char *const CMainFrame::Title = "「ぬ」用チェックポイント作成ツール";
const char *const CMainFrame::ReadyText = "レディ";

CMainFrame::CMainFrame(ShellServices services, QWidget *parent) : QMainWindow(parent)
{
    setWindowTitle(QString::fromUtf8(Title));
    setAccessibleName(QString::fromUtf8(Title));
    setWindowIcon(appIcon());
    setDockOptions(QMainWindow::AnimatedDocks);
    m_view = new CMainView(std::move(services), this);
    setCentralWidget(m_view);
    // The frame hands its keyboard focus to the view, where the arrow keys are handled.
    setFocusProxy(m_view);

    m_exit = new QAction(QStringLiteral("アプリケーションの終了(&X)"), this);
    m_exit->setObjectName(QStringLiteral("command%1").arg(ID_EXIT));
    m_exit->setData(int(ID_EXIT));
    m_exit->setStatusTip(QString());
    connect(m_exit, &QAction::triggered, this, &QWidget::close);
    m_about = new QAction(QStringLiteral("バージョン情報 ね(&A)..."), this);
    m_about->setObjectName(QStringLiteral("command%1").arg(ID_ABOUT));
    m_about->setData(int(ID_ABOUT));
    m_about->setToolTip(QStringLiteral("バージョン情報 ね"));
    connect(m_about, &QAction::triggered, this, [this] {
        CAboutDlg dialog(this);
        dialog.exec();
    });

    makeToolBar();
    makeStatusBar();
    makeMenus();
    m_view->setStatusPanes([this](int pane, const QString &text) { setPaneText(pane, text); });
    // The offset every tap is taken back by, where the user looks while tapping.
    auto showOffset = [this](int ms) {
        statusBar()->setToolTip(QStringLiteral("タップのオフセット: %1 ms").arg(ms));
    };
    connect(m_view, &CMainView::tapOffsetChanged, this, showOffset);
    showOffset(m_view->tapOffsetMs());
    nameUnnamedChildren();

    // The minimum is larger than the initial size: the window opens at the minimum.
    resize(InitialWidth, InitialHeight);
    setMinimumSize(MinimumWidth, MinimumHeight);
    m_view->setFocus();
}

CMainFrame::~CMainFrame() = default;

QAction *CMainFrame::action(int commandId) const
{
    switch (commandId) {
    case ID_EXIT:
        return m_exit;
    case ID_ABOUT:
        return m_about;
    case ID_VIEW_TOOLBAR:
        return m_showToolBar;
    case ID_VIEW_STATUS_BAR:
        return m_showStatusBar;
    default:
        return m_view->action(commandId);
    }
}

QString CMainFrame::menuText(const QAction *action)
{
    const QString key = action->shortcut().toString(QKeySequence::PortableText);
    return key.isEmpty() ? action->text() : action->text() + QLatin1Char('\t') + key;
}

void CMainFrame::makeMenus()
{
    // Shortcuts live on the actions, so the menu shows each key after a tab as the menu text
    // reads; the action's own text (and so its accessible name) stays without it.
    QMenu *file = menuBar()->addMenu(QStringLiteral("ファイル (&F)"));
    for (int id : {ID_NEW, ID_OPEN, ID_SAVE, ID_SAVE_AS})
        file->addAction(action(id));
    file->addSeparator();
    file->addAction(action(ID_SET_SONG));
    file->addAction(action(ID_PROPERTIES));
    file->addSeparator();
    file->addAction(action(ID_OUTPUT));
    file->addAction(action(ID_EXPORT_VIDEO));
    file->addAction(action(ID_EXPORT_MARKS));
    file->addAction(action(ID_IMPORT_MARKS));
    file->addSeparator();
    file->addAction(m_exit);

    QMenu *edit = menuBar()->addMenu(QStringLiteral("編集 (&E)"));
    edit->addAction(action(ID_UNDO));
    edit->addAction(action(ID_REDO));

    QMenu *play = menuBar()->addMenu(QStringLiteral("再生 (&P)"));
    for (int id : {ID_PLAY, ID_STOP, ID_PAUSE})
        play->addAction(action(id));
    play->addSeparator();
    for (int id : {ID_SPEED_NORMAL, ID_SPEED_HALF, ID_SPEED_QUARTER, ID_KEEP_PITCH, ID_LOOP_SELECTION})
        play->addAction(action(id));
    play->addSeparator();
    play->addAction(action(ID_DETECT_BEATS));
    play->addAction(action(ID_MARK_CLICKS));
    play->addAction(action(ID_SNAP_ONSETS));
    play->addAction(action(ID_CALIBRATE_TAPS));

    QMenu *view = menuBar()->addMenu(QStringLiteral("表示 (&V)"));
    for (int id : {ID_ZOOM_IN, ID_ZOOM_OUT, ID_CURRENT_POSITION})
        view->addAction(action(id));
    view->addSeparator();
    view->addAction(action(ID_FOLLOW_PREVIEW));
    view->addSeparator();
    view->addAction(m_showToolBar);
    view->addAction(m_showStatusBar);

    QMenu *help = menuBar()->addMenu(QStringLiteral("ヘルプ (&H)"));
    help->addAction(m_about);

    for (QMenu *menu : {file, edit, play, view, help}) {
        QString name = menu->title();
        menu->setAccessibleName(name.remove(QLatin1Char('&')));
    }
    menuBar()->setAccessibleName(QStringLiteral("メニュー バー"));
}

void CMainFrame::makeToolBar()
{
    m_toolBar = addToolBar(QStringLiteral("ツール バー"));
    m_toolBar->setObjectName(QStringLiteral("toolBar"));
    m_toolBar->setAccessibleName(QStringLiteral("ツール バー"));
    m_toolBar->setIconSize(QSize(16, 15));
    m_toolBar->setFloatable(false);
    // 0 stands for a gap between button groups.
    const int buttons[] = {ID_NEW,  ID_OPEN,          ID_SAVE,       ID_OUTPUT,        0,
                           ID_PLAY, ID_STOP,          ID_PAUSE,      ID_SPEED_NORMAL,  ID_SPEED_HALF,
                           ID_SPEED_QUARTER, 0,       ID_ZOOM_IN,    ID_ZOOM_OUT,
                           ID_CURRENT_POSITION, 0,    ID_LAUNCH_RENDERER, ID_ABOUT};
    for (int id : buttons) {
        if (id == 0) {
            m_toolBar->addSeparator();
            continue;
        }
        QAction *command = action(id);
        command->setIcon(commandIcon(id));
        m_toolBar->addAction(command);
        if (QWidget *button = m_toolBar->widgetForAction(command))
            button->setAccessibleName(command->toolTip());
    }
    m_showToolBar = m_toolBar->toggleViewAction();
    m_showToolBar->setText(QStringLiteral("ツール バー(&T)"));
    m_showToolBar->setObjectName(QStringLiteral("command%1").arg(ID_VIEW_TOOLBAR));
    m_showToolBar->setStatusTip(QString());
}

void CMainFrame::makeStatusBar()
{
    QStatusBar *bar = statusBar();
    bar->setAccessibleName(QStringLiteral("ステータス バー"));
    const char *const sizing[] = {"", "再生中の時間", "選択中の時間", "表示画像のフレーム番号"};
    const char *const names[] = {"メッセージ", "再生中の時間", "選択中の時間", "表示画像のフレーム番号"};
    for (int i = 0; i < 4; ++i) {
        auto *label = new QLabel(bar);
        label->setAccessibleName(QString::fromUtf8(names[i]));
        label->setObjectName(QStringLiteral("pane%1").arg(i));
        if (i == 0) {
            bar->addWidget(label, 1);
        } else {
            label->setFrameShape(QFrame::Panel);
            label->setFrameShadow(QFrame::Sunken);
            const int width = QFontMetrics(label->font()).horizontalAdvance(QString::fromUtf8(sizing[i]));
            label->setMinimumWidth(width + 8);
            bar->addPermanentWidget(label);
        }
        m_panes[size_t(i)] = label;
        // Through setPaneText from the start, so that a screen reader hears "レディ" too.
        setPaneText(i, i == 0 ? QString::fromUtf8(ReadyText) : QString());
    }
    m_showStatusBar = new QAction(QStringLiteral("ステータス バー(&S)"), this);
    m_showStatusBar->setObjectName(QStringLiteral("command%1").arg(ID_VIEW_STATUS_BAR));
    m_showStatusBar->setCheckable(true);
    m_showStatusBar->setChecked(true);
    connect(m_showStatusBar, &QAction::toggled, bar, &QWidget::setVisible);
}

void CMainFrame::nameUnnamedChildren()
{
    // Qt's own parts of the bars: the tool bar's handle, gaps and overflow button and the status
    // bar's size grip would otherwise read as unnamed.
    for (QWidget *child : m_toolBar->findChildren<QWidget *>()) {
        if (!child->accessibleName().isEmpty())
            continue;
        if (child->objectName() == QLatin1String("qt_toolbar_ext_button"))
            child->setAccessibleName(QStringLiteral("その他のボタン"));
        else if (child->inherits("QToolBarSeparator"))
            child->setAccessibleName(QStringLiteral("区切り"));
    }
    for (QSizeGrip *grip : statusBar()->findChildren<QSizeGrip *>())
        grip->setAccessibleName(QStringLiteral("サイズ変更"));
}

void CMainFrame::setPaneText(int pane, const QString &text)
{
    if (pane < 0 || pane >= int(m_panes.size()))
        return;
    // The name says which pane it is; screen readers read the text as its description.
    QLabel *label = m_panes[size_t(pane)];
    label->setText(text);
    label->setAccessibleDescription(text);
}

} // namespace vorn
