// CMainFrame: the main window with its document windows, two menu bars,
// toolbar and five-pane status bar.
//
// Menu bar 128 shows while no document window is active, 129 while one is.
// A command is enabled only while something can carry it out: Save As and
// the processing commands need an active document with an image, Histogram
// and Fit image to window an active document window. Status pane 0 shows "Ready", the prompt of
// the menu item or toolbar button under the pointer, or the view's pixel
// readout; pane 1 the active document's elapsed time; panes 2 to 4 the lock keys.
#pragma once

#include <map>

#include <QMainWindow>

class CChildFrame;
class CLumivexApp;
class CLumivexDoc;
class CLumivexView;
class QActionGroup;
class QLabel;
class QMdiArea;
class QMdiSubWindow;
class QMenu;

class CMainFrame : public QMainWindow {
    Q_OBJECT
public:
    explicit CMainFrame(CLumivexApp* app);
    ~CMainFrame() override;

    // Builds the menus, toolbar and status bar; false when a bar could not be made.
    bool OnCreate();

    QMdiArea* MdiArea() const { return m_pMdiArea; }
    void AddChildFrame(CChildFrame* frame);
    CChildFrame* ActiveChildFrame() const;
    CLumivexDoc* ActiveDocument() const;
    CLumivexView* ActiveView() const;
    QList<CChildFrame*> ChildFrames() const;

    // The action of a command number (menu item, toolbar button, key), or null.
    QAction* Action(int id) const;
    // 128 or 129: the menu bar now shown.
    int MenuBarId() const { return m_nMenuBarId; }
    QToolBar* ToolBar() const { return m_pToolBar; }

    void SetPaneText(int pane, const QString& text);
    // What pane shows now (pane 1 is blank without an active document).
    QString PaneText(int pane) const;
    QLabel* Pane(int pane) const;

    // Brings menus, toolbar, title and panes in line with the active document window.
    void UpdateCommandUi();
    void UpdateLockIndicators();
    // The entries the Window menu lists after its commands, "&1 title", ...
    QStringList WindowListTexts() const;

    // Window > Tile: one window above the other, full width; a grid of
    // columns once there are more than three.
    void TileHorizontally();

protected:
    bool event(QEvent* event) override;
    void changeEvent(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QAction* MakeAction(int id, const QString& item, const QString& prompt, const QString& tooltip);
    void CreateActions();
    void CreateMenus();
    bool CreateToolBar();
    bool CreateStatusBar();
    void RebuildWindowMenu();
    void ShowMenuBar(int id);
    void UpdateTitle();

    CLumivexApp* m_pApp;
    QMdiArea* m_pMdiArea = nullptr;
    QToolBar* m_pToolBar = nullptr;
    std::map<int, QAction*> m_actions;
    QList<QMenu*> m_menus128;
    QList<QMenu*> m_menus129;
    QMenu* m_pWindowMenu = nullptr;
    QActionGroup* m_pWindowList = nullptr;
    int m_nMenuBarId = 0;
    QLabel* m_panes[5] = {};
    QString m_strTimePane;  // pane 1's text, shown while a document window is active
};
