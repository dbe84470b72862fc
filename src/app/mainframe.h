// CMainFrame: the main window: title, menus, tool bar, status bar, and the main view inside.
#pragma once

#include "app/mainview.h"

#include <QMainWindow>

#include <array>

class QLabel;
class QToolBar;

namespace vorn {

class CMainFrame : public QMainWindow {
    Q_OBJECT

public:
    static const char *const Title;
    static constexpr int InitialWidth = 640;
    static constexpr int InitialHeight = 480;
    static constexpr int MinimumWidth = 800;
    static constexpr int MinimumHeight = 600;

    explicit CMainFrame(ShellServices services, QWidget *parent = nullptr);
    ~CMainFrame() override;

    CMainView *view() const { return m_view; }
    // Every command's action: the view's and the frame's own (bars, exit, about).
    QAction *action(int commandId) const;
    QToolBar *toolBar() const { return m_toolBar; }
    // The four panes: message, playback time, hovered mark time, preview frame.
    QLabel *pane(int index) const { return m_panes[size_t(index)]; }
    // The text a menu shows for an action: its text and, after a tab, its key.
    static QString menuText(const QAction *action);

    // "レディ" while no command prompt shows; the sound-device notice replaces it when the
    // program plays on the simulated device.
    static const char *const ReadyText;

private:
    void makeMenus();
    void makeToolBar();
    void makeStatusBar();
    void setPaneText(int pane, const QString &text);
    void nameUnnamedChildren();

    CMainView *m_view = nullptr;
    QToolBar *m_toolBar = nullptr;
    std::array<QLabel *, 4> m_panes{};
    QAction *m_exit = nullptr;
    QAction *m_about = nullptr;
    QAction *m_showToolBar = nullptr;
    QAction *m_showStatusBar = nullptr;
};

} // namespace vorn
