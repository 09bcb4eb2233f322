#include "ui/main_frame.h"

#include <algorithm>
#include <cmath>

#include <QActionGroup>
#include <QApplication>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QMdiArea>
#include <QMenuBar>
#include <QStatusBar>
#include <QStatusTipEvent>
#include <QStyle>
#include <QTimer>
#include <QToolBar>

#include "document/commands/command_table.h"
#include "document/lumivex_doc.h"
#include "ui/child_frame.h"
#include "ui/lock_keys.h"
#include "ui/lumivex_app.h"
#include "ui/lumivex_view.h"
#include "ui/string_table.h"

namespace {

QString ToQString(std::string_view text)
{
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

QString MenuEscaped(QString text)
{
    return text.replace(QLatin1Char('&'), QStringLiteral("&&"));
}

}  // namespace

CMainFrame::CMainFrame(CLumivexApp* app) : m_pApp(app)
{
    setObjectName(QStringLiteral("CMainFrame"));
    setWindowTitle(QString::fromLatin1(strings::kAppName));
    setWindowIcon(QIcon(QStringLiteral(":/icons/lumivex.png")));
    setContextMenuPolicy(Qt::NoContextMenu);

    m_pMdiArea = new QMdiArea(this);
    m_pMdiArea->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    m_pMdiArea->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setCentralWidget(m_pMdiArea);
    connect(m_pMdiArea, &QMdiArea::subWindowActivated, this, [this](QMdiSubWindow* window) {
        if (auto* frame = qobject_cast<CChildFrame*>(window))
            frame->Document()->ShowElapsedTime();
        UpdateCommandUi();
    });
}

CMainFrame::~CMainFrame()
{
    qApp->removeEventFilter(this);
    m_pMdiArea->disconnect(this);
    // Document windows go before the frame's bars and actions they refer to.
    const QList<QMdiSubWindow*> windows = m_pMdiArea->subWindowList();
    for (QMdiSubWindow* window : windows)
        delete window;
}

bool CMainFrame::OnCreate()
{
    CreateActions();
    CreateMenus();
    if (!CreateToolBar() || !CreateStatusBar())
        return false;
    ShowMenuBar(128);
    qApp->installEventFilter(this);
    UpdateLockIndicators();
    UpdateCommandUi();
    return true;
}

QAction* CMainFrame::MakeAction(int id, const QString& item, const QString& prompt, const QString& tooltip)
{
    auto* action = new QAction(item, this);
    action->setData(id);
    action->setObjectName(QStringLiteral("ID_%1").arg(id));
    action->setStatusTip(prompt);
    // Without a tooltip of its own a button shows nothing rather than its item text.
    action->setToolTip(tooltip);
    m_actions[id] = action;
    return action;
}

void CMainFrame::CreateActions()
{
    for (const ShellCommand& command : kShellCommands)
        MakeAction(command.id, QString::fromLatin1(command.item), QString::fromLatin1(command.prompt),
                   QString::fromLatin1(command.tooltip));

    // The accelerators: every window of the program uses the main frame's table.
    const std::pair<int, QKeySequence> keys[] = {
        {ids::kFileNew, QKeySequence(Qt::CTRL | Qt::Key_N)},
        {ids::kFileOpen, QKeySequence(Qt::CTRL | Qt::Key_O)},
        {ids::kFileSaveAs, QKeySequence(Qt::CTRL | Qt::Key_S)},
    };
    for (const auto& [id, key] : keys) {
        m_actions[id]->setShortcut(key);
        m_actions[id]->setShortcutContext(Qt::WindowShortcut);
        addAction(m_actions[id]);
    }

    Action(ids::kViewToolbar)->setCheckable(true);
    Action(ids::kViewStatusBar)->setCheckable(true);
    Action(ids::kHistogram)->setCheckable(true);
    Action(ids::kFitToWindow)->setCheckable(true);
    Action(ids::kFileOpen)->setIcon(QIcon(QStringLiteral(":/icons/open.png")));
    Action(ids::kFileSaveAs)->setIcon(QIcon(QStringLiteral(":/icons/save.png")));
    Action(ids::kHistogram)->setIcon(QIcon(QStringLiteral(":/icons/histogram.png")));
    Action(ids::kFitToWindow)->setIcon(QIcon(QStringLiteral(":/icons/fit.png")));
    // The pictures belong to the toolbar; menu items stay plain text.
    for (int id : {ids::kFileOpen, ids::kFileSaveAs, ids::kHistogram, ids::kFitToWindow})
        Action(id)->setIconVisibleInMenu(false);

    connect(Action(ids::kFileNew), &QAction::triggered, this, [this] { m_pApp->OnFileNew(); });
    connect(Action(ids::kFileOpen), &QAction::triggered, this, [this] { m_pApp->OnFileOpen(); });
    connect(Action(ids::kFileClose), &QAction::triggered, this, [this] {
        if (CChildFrame* frame = ActiveChildFrame())
            frame->close();
    });
    connect(Action(ids::kFileSaveAs), &QAction::triggered, this, [this] {
        if (CLumivexDoc* document = ActiveDocument())
            document->OnFileSaveAs();
        UpdateCommandUi();
    });
    connect(Action(ids::kAppExit), &QAction::triggered, this, &QWidget::close);
    connect(Action(ids::kViewToolbar), &QAction::triggered, this, [this](bool shown) {
        m_pToolBar->setVisible(shown);
        UpdateCommandUi();
    });
    connect(Action(ids::kViewStatusBar), &QAction::triggered, this, [this](bool shown) {
        statusBar()->setVisible(shown);
        UpdateCommandUi();
    });
    connect(Action(ids::kHistogram), &QAction::triggered, this, [this] {
        if (CLumivexDoc* document = ActiveDocument())
            document->OnHistogram();
        UpdateCommandUi();
    });
    connect(Action(ids::kFitToWindow), &QAction::triggered, this, [this] {
        if (CLumivexView* view = ActiveView())
            view->OnFitToWindow();
        UpdateCommandUi();
    });
    connect(Action(ids::kWindowCascade), &QAction::triggered, m_pMdiArea, &QMdiArea::cascadeSubWindows);
    connect(Action(ids::kWindowTile), &QAction::triggered, this, &CMainFrame::TileHorizontally);
    connect(Action(ids::kAppAbout), &QAction::triggered, this, [this] { m_pApp->OnAppAbout(); });

    for (const CommandSpec& command : Commands()) {
        QAction* action = MakeAction(command.id, ToQString(command.item), ToQString(command.prompt), QString());
        connect(action, &QAction::triggered, this, [this, &command] {
            if (CLumivexDoc* document = ActiveDocument())
                document->OnProcessingCommand(command);
            UpdateCommandUi();
        });
    }
}

void CMainFrame::CreateMenus()
{
    const auto menu = [this](const char* title, QList<QMenu*>& bar) {
        auto* created = new QMenu(QString::fromLatin1(title), this);
        // Menus show the state of the moment they open, as menus always have.
        connect(created, &QMenu::aboutToShow, this, &CMainFrame::UpdateCommandUi);
        bar.append(created);
        return created;
    };

    QMenu* file = menu("&File", m_menus128);
    file->addAction(Action(ids::kFileOpen));
    file->addSeparator();
    file->addAction(Action(ids::kAppExit));
    QMenu* view = menu("&View", m_menus128);
    view->addAction(Action(ids::kViewToolbar));
    view->addAction(Action(ids::kViewStatusBar));
    menu("&Help", m_menus128)->addAction(Action(ids::kAppAbout));

    file = menu("&File", m_menus129);
    file->addAction(Action(ids::kFileOpen));
    file->addAction(Action(ids::kFileClose));
    file->addAction(Action(ids::kFileSaveAs));
    file->addSeparator();
    file->addAction(Action(ids::kAppExit));
    view = menu("&View", m_menus129);
    view->addAction(Action(ids::kViewToolbar));
    view->addAction(Action(ids::kViewStatusBar));
    view->addSeparator();
    view->addAction(Action(ids::kHistogram));
    view->addSeparator();
    view->addAction(Action(ids::kFitToWindow));

    // The processing menus, in the command table's order.
    QMenu* current = nullptr;
    std::string_view currentTitle;
    for (const CommandSpec& command : Commands()) {
        if (!current || command.menu != currentTitle) {
            current = menu(std::string(command.menu).c_str(), m_menus129);
            currentTitle = command.menu;
        }
        if (command.separatorBefore)
            current->addSeparator();
        current->addAction(Action(command.id));
    }

    m_pWindowMenu = menu("&Window", m_menus129);
    m_pWindowMenu->addAction(Action(ids::kWindowCascade));
    m_pWindowMenu->addAction(Action(ids::kWindowTile));
    connect(m_pWindowMenu, &QMenu::aboutToShow, this, &CMainFrame::RebuildWindowMenu);
    m_pWindowList = new QActionGroup(this);
    m_pWindowList->setExclusive(false);  // a check mark, not a radio dot
    menu("&Help", m_menus129)->addAction(Action(ids::kAppAbout));
}

bool CMainFrame::CreateToolBar()
{
    m_pToolBar = new QToolBar(QStringLiteral("Toolbar"), this);
    m_pToolBar->setObjectName(QStringLiteral("ToolBar"));
    m_pToolBar->setIconSize(QSize(16, 15));
    m_pToolBar->setMovable(true);
    m_pToolBar->setFloatable(true);
    m_pToolBar->setAllowedAreas(Qt::AllToolBarAreas);
    m_pToolBar->setContextMenuPolicy(Qt::PreventContextMenu);
    for (int id : {ids::kFileOpen, ids::kFileSaveAs, ids::kHistogram, ids::kFitToWindow})
        m_pToolBar->addAction(Action(id));
    // These two buttons have a prompt but no tooltip.
    for (int id : {ids::kHistogram, ids::kFitToWindow})
        if (QWidget* button = m_pToolBar->widgetForAction(Action(id)))
            button->setProperty("lumivexNoToolTip", true);
    addToolBar(Qt::TopToolBarArea, m_pToolBar);
    return true;
}

bool CMainFrame::CreateStatusBar()
{
    QStatusBar* bar = statusBar();
    bar->setObjectName(QStringLiteral("StatusBar"));
    const QFontMetrics metrics(bar->font());
    for (int pane = 0; pane < 5; ++pane) {
        auto* label = new QLabel(bar);
        label->setObjectName(QStringLiteral("Pane%1").arg(pane));
        label->setTextFormat(Qt::PlainText);
        m_panes[pane] = label;
        if (pane == 0) {
            label->setText(QString::fromLatin1(strings::kReady));
            bar->addWidget(label, 1);
            continue;
        }
        // Each pane is as wide as its template text: 51 spaces, "CAP", "NUM", "SCRL".
        static const char* const widths[] = {nullptr, nullptr, "CAP", "NUM", "SCRL"};
        const QString sample = pane == 1 ? QString(strings::kTimePaneChars, QLatin1Char(' ')) : QString::fromLatin1(widths[pane]);
        label->setFrameShape(QFrame::Panel);
        label->setFrameShadow(QFrame::Sunken);
        label->setAlignment(pane == 1 ? Qt::AlignLeft | Qt::AlignVCenter : Qt::AlignCenter);
        label->setFixedWidth(metrics.horizontalAdvance(sample) + 2 * label->frameWidth() + 6);
        bar->addPermanentWidget(label);
    }
    return true;
}

void CMainFrame::ShowMenuBar(int id)
{
    if (m_nMenuBarId == id)
        return;
    m_nMenuBarId = id;
    QMenuBar* bar = menuBar();
    bar->clear();
    for (QMenu* menu : id == 128 ? m_menus128 : m_menus129)
        bar->addMenu(menu);
}

void CMainFrame::AddChildFrame(CChildFrame* frame)
{
    const QList<QMdiSubWindow*> existing = m_pMdiArea->subWindowList();
    m_pMdiArea->addSubWindow(frame);
    // New windows cascade from the top-left corner, one title bar further
    // each time, and start again at the corner once they would leave the area.
    const QSize area = m_pMdiArea->viewport()->size();
    const QSize size(std::max(200, area.width() * 2 / 3), std::max(150, area.height() * 2 / 3));
    const int step = std::max(8, frame->style()->pixelMetric(QStyle::PM_TitleBarHeight, nullptr, frame));
    const int places = std::max(1, std::min((area.width() - size.width()) / step, (area.height() - size.height()) / step) + 1);
    const int slot = static_cast<int>(existing.size()) % places;
    frame->setGeometry(slot * step, slot * step, size.width(), size.height());
    connect(frame->Document(), &CLumivexDoc::TitleChanged, this, &CMainFrame::UpdateCommandUi);
    connect(frame->Document(), &CLumivexDoc::ImageChanged, this, &CMainFrame::UpdateCommandUi);
    connect(frame, &QMdiSubWindow::windowStateChanged, this, &CMainFrame::UpdateCommandUi);
    connect(frame, &QObject::destroyed, this, &CMainFrame::UpdateCommandUi, Qt::QueuedConnection);
}

CChildFrame* CMainFrame::ActiveChildFrame() const
{
    // The current window stays the active document window while another
    // top-level window (a dialog, a message box) has the focus.
    return qobject_cast<CChildFrame*>(m_pMdiArea->currentSubWindow());
}

CLumivexDoc* CMainFrame::ActiveDocument() const
{
    CChildFrame* frame = ActiveChildFrame();
    return frame ? frame->Document() : nullptr;
}

CLumivexView* CMainFrame::ActiveView() const
{
    CChildFrame* frame = ActiveChildFrame();
    return frame ? frame->View() : nullptr;
}

QList<CChildFrame*> CMainFrame::ChildFrames() const
{
    QList<CChildFrame*> frames;
    for (QMdiSubWindow* window : m_pMdiArea->subWindowList(QMdiArea::CreationOrder))
        if (auto* frame = qobject_cast<CChildFrame*>(window))
            frames.append(frame);
    return frames;
}

QAction* CMainFrame::Action(int id) const
{
    const auto found = m_actions.find(id);
    return found == m_actions.end() ? nullptr : found->second;
}

QLabel* CMainFrame::Pane(int pane) const
{
    return pane >= 0 && pane < 5 ? m_panes[pane] : nullptr;
}

void CMainFrame::SetPaneText(int pane, const QString& text)
{
    if (pane == 1) {
        m_strTimePane = text;
        m_panes[1]->setText(ActiveChildFrame() ? m_strTimePane : QString());
    } else if (QLabel* label = Pane(pane)) {
        label->setText(text);
    }
}

QString CMainFrame::PaneText(int pane) const
{
    QLabel* label = Pane(pane);
    return label ? label->text() : QString();
}

void CMainFrame::UpdateCommandUi()
{
    CChildFrame* frame = ActiveChildFrame();
    CLumivexDoc* document = frame ? frame->Document() : nullptr;
    const bool hasImage = document && document->HasImage();

    ShowMenuBar(frame ? 129 : 128);
    Action(ids::kFileClose)->setEnabled(frame != nullptr);
    Action(ids::kFileSaveAs)->setEnabled(hasImage);
    Action(ids::kWindowCascade)->setEnabled(frame != nullptr);
    Action(ids::kWindowTile)->setEnabled(frame != nullptr);
    for (const CommandSpec& command : Commands())
        Action(command.id)->setEnabled(hasImage);

    // Available in any document window; it does nothing where there is no image.
    Action(ids::kHistogram)->setEnabled(frame != nullptr);
    Action(ids::kHistogram)->setChecked(document && document->m_bHistogramShown);

    CLumivexView* view = frame ? frame->View() : nullptr;
    Action(ids::kFitToWindow)->setEnabled(view != nullptr);
    Action(ids::kFitToWindow)->setChecked(view && view->m_bFitToWindow);

    Action(ids::kViewToolbar)->setChecked(m_pToolBar->isVisibleTo(this));
    Action(ids::kViewStatusBar)->setChecked(statusBar()->isVisibleTo(this));

    // Pane 1 is blank without an active document window and shows its text again with one.
    m_panes[1]->setText(frame ? m_strTimePane : QString());
    UpdateTitle();
}

void CMainFrame::UpdateTitle()
{
    // "Lumivex", "Lumivex - title", or "Lumivex - [title]" while the active
    // document window is maximized. The MDI area rewrites the frame's title
    // itself when a window is maximized or restored; changeEvent puts this one back.
    const QString name = QString::fromLatin1(strings::kAppName);
    QString title = name;
    if (CChildFrame* frame = ActiveChildFrame()) {
        const QString document = frame->Document()->GetTitle();
        title += frame->isMaximized() ? QStringLiteral(" - [%1]").arg(document) : QStringLiteral(" - ") + document;
    }
    if (windowTitle() != title)
        setWindowTitle(title);
}

void CMainFrame::changeEvent(QEvent* event)
{
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::WindowTitleChange && m_pToolBar)
        UpdateTitle();
}

void CMainFrame::RebuildWindowMenu()
{
    for (QAction* action : m_pWindowList->actions()) {
        m_pWindowMenu->removeAction(action);
        delete action;
    }
    const QList<CChildFrame*> frames = ChildFrames();
    if (frames.isEmpty())
        return;
    auto* separator = new QAction(m_pWindowList);
    separator->setSeparator(true);
    m_pWindowMenu->addAction(separator);
    CChildFrame* active = ActiveChildFrame();
    for (qsizetype i = 0; i < frames.size(); ++i) {
        CChildFrame* frame = frames[i];
        const QString title = MenuEscaped(frame->Document()->GetTitle());
        const QString text = i < 9 ? QStringLiteral("&%1 %2").arg(i + 1).arg(title) : QStringLiteral("%1 %2").arg(i + 1).arg(title);
        auto* action = new QAction(text, m_pWindowList);
        action->setCheckable(true);
        action->setChecked(frame == active);
        action->setStatusTip(QStringLiteral("Activate this window"));
        connect(action, &QAction::triggered, this, [this, frame] { m_pMdiArea->setActiveSubWindow(frame); });
        m_pWindowMenu->addAction(action);
    }
}

QStringList CMainFrame::WindowListTexts() const
{
    const_cast<CMainFrame*>(this)->RebuildWindowMenu();
    QStringList texts;
    for (QAction* action : m_pWindowList->actions())
        if (!action->isSeparator())
            texts.append(action->text());
    return texts;
}

void CMainFrame::TileHorizontally()
{
    QList<QMdiSubWindow*> windows;
    const QList<QMdiSubWindow*> stacked = m_pMdiArea->subWindowList(QMdiArea::StackingOrder);
    for (auto it = stacked.rbegin(); it != stacked.rend(); ++it)
        if ((*it)->isVisible() && !(*it)->isMinimized())
            windows.append(*it);
    const int count = static_cast<int>(windows.size());
    if (count == 0)
        return;
    const QRect area = m_pMdiArea->viewport()->rect();
    const int columns = count <= 3 ? 1 : static_cast<int>(std::sqrt(static_cast<double>(count)));
    int index = 0;
    for (int column = 0; column < columns; ++column) {
        // The last columns take the windows that do not divide evenly.
        const int rows = count / columns + (column >= columns - count % columns ? 1 : 0);
        const int left = area.width() * column / columns;
        const int right = area.width() * (column + 1) / columns;
        for (int row = 0; row < rows && index < count; ++row, ++index) {
            const int top = area.height() * row / rows;
            const int bottom = area.height() * (row + 1) / rows;
            QMdiSubWindow* window = windows[index];
            if (window->isMaximized())
                window->showNormal();
            window->setGeometry(left, top, right - left, bottom - top);
        }
    }
}

void CMainFrame::UpdateLockIndicators()
{
    const LockKeyState state = QueryLockKeys();
    m_panes[2]->setText(state.known && state.caps ? QStringLiteral("CAP") : QString());
    m_panes[3]->setText(state.known && state.num ? QStringLiteral("NUM") : QString());
    m_panes[4]->setText(state.known && state.scroll ? QStringLiteral("SCRL") : QString());
}

bool CMainFrame::event(QEvent* event)
{
    // Prompts go to pane 0; when the pointer leaves the item or button, "Ready" returns.
    if (event->type() == QEvent::StatusTip) {
        const QString tip = static_cast<QStatusTipEvent*>(event)->tip();
        SetPaneText(0, tip.isEmpty() ? QString::fromLatin1(strings::kReady) : tip);
        return true;
    }
    if (event->type() == QEvent::Close) {
        // Closing the program closes every document; none ever asks to be saved.
        m_pMdiArea->closeAllSubWindows();
    }
    return QMainWindow::event(event);
}

bool CMainFrame::eventFilter(QObject* watched, QEvent* event)
{
    switch (event->type()) {
    case QEvent::ToolTip:
        if (watched->property("lumivexNoToolTip").toBool())
            return true;
        break;
    case QEvent::KeyPress:
    case QEvent::KeyRelease: {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_CapsLock || key == Qt::Key_NumLock || key == Qt::Key_ScrollLock)
            QTimer::singleShot(0, this, &CMainFrame::UpdateLockIndicators);
        break;
    }
    case QEvent::ApplicationActivate:
        QTimer::singleShot(0, this, &CMainFrame::UpdateLockIndicators);
        break;
    default:
        break;
    }
    return QMainWindow::eventFilter(watched, event);
}
