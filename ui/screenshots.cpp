// lumivex-screenshots: pictures of the real workbench for the user guide.
//
//   lumivex-screenshots OUTDIR [PHOTO PHOTO]
//
// Starts the workbench as lumivex does, opens two photos (by default the
// source tree's samples/chelsea_451x300.bmp and samples/hubble_dark_400x300.jpg),
// runs CLHE on the first, shows the histogram of the result, points at a
// pixel and saves the whole screen as OUTDIR/workbench.png; then opens the
// Three channel filtering dialog on the first and saves the part of the
// screen around it as OUTDIR/dialog.png; then leaves by itself. It drives the
// program through its menu commands and needs a display of its own, such as
//   xvfb-run -a -s '-screen 0 1280x900x24' lumivex-screenshots docs/guide
// Nothing is written to the user's settings (the recent-file list is not saved).
#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QHash>
#include <QMdiArea>
#include <QMouseEvent>
#include <QPushButton>
#include <QScreen>
#include <QTimer>

#include "document/file_dialogs.h"
#include "document/lumivex_doc.h"
#include "document/param_dialog.h"
#include "ui/child_frame.h"
#include "ui/histogram_dlg.h"
#include "ui/lumivex_app.h"
#include "ui/lumivex_view.h"
#include "ui/main_frame.h"
#include "ui/string_table.h"

namespace {

constexpr int kClheCommand = 32776;
constexpr int kThreeChannelCommand = 32778;

// The Open dialog answers with the next photo of the list.
class CPhotoList : public CFileDialogs {
public:
    explicit CPhotoList(QStringList photos) : m_photos(std::move(photos)) {}
    QString GetOpenFileName(QWidget*, const QStringList&) override
    {
        return m_photos.isEmpty() ? QString() : m_photos.takeFirst();
    }

private:
    QStringList m_photos;
};

// Lets the windows paint (and a screen grab see them) for a moment.
void Settle(int milliseconds = 300)
{
    QEventLoop loop;
    QTimer::singleShot(milliseconds, &loop, &QEventLoop::quit);
    loop.exec();
}

QString SamplePath(const char* name)
{
    // The source tree first, then next to the program, then the working folder.
    for (const QString& folder : {QStringLiteral(LUMIVEX_SOURCE_DIR "/samples"),
                                  QCoreApplication::applicationDirPath() + QStringLiteral("/../../samples"),
                                  QStringLiteral("samples")}) {
        const QString path = QDir(folder).filePath(QString::fromLatin1(name));
        if (QFileInfo::exists(path))
            return QFileInfo(path).absoluteFilePath();
    }
    return {};
}

// The screen in at most 256 colours, for a PNG far smaller than a true-colour
// one. The palette takes the most frequent colours first, skipping any within
// `spread` of one already taken, with the smallest spread that leaves at most
// 256; every pixel then takes its nearest palette colour. On this program's
// screens, gray photos and a few tinted details, grays move by a level or two
// at most: nothing a reader can see.
QImage ToPalette(const QImage& screen)
{
    const QImage rgb = screen.convertToFormat(QImage::Format_RGB32);
    QHash<QRgb, int> frequency;
    for (int y = 0; y < rgb.height(); ++y) {
        const QRgb* row = reinterpret_cast<const QRgb*>(rgb.constScanLine(y));
        for (int x = 0; x < rgb.width(); ++x)
            ++frequency[row[x] | 0xff000000u];
    }
    QList<QRgb> colours = frequency.keys();
    std::sort(colours.begin(), colours.end(), [&](QRgb a, QRgb b) {
        return frequency[a] != frequency[b] ? frequency[a] > frequency[b] : a < b;
    });
    // Tinted details (title bars, icons, anti-aliased text on them) are small
    // and forgiving; the gray photos are not, so tints are merged four times
    // as readily as grays.
    const auto isGray = [](QRgb c) { return qRed(c) == qGreen(c) && qGreen(c) == qBlue(c); };
    const auto distance = [&](QRgb a, QRgb b) {
        const int most = std::max({std::abs(qRed(a) - qRed(b)), std::abs(qGreen(a) - qGreen(b)), std::abs(qBlue(a) - qBlue(b))});
        return isGray(a) && isGray(b) ? most : most / 4;
    };
    QList<QRgb> palette;
    for (int spread = 0; spread < 256; ++spread) {
        palette.clear();
        for (QRgb colour : colours) {
            bool distinct = true;
            for (QRgb taken : palette)
                if (distance(colour, taken) <= spread) {
                    distinct = false;
                    break;
                }
            if (distinct && palette.size() <= 256)
                palette.append(colour);
        }
        if (palette.size() <= 256)
            break;
    }
    QHash<QRgb, uchar> index;
    for (QRgb colour : colours) {
        int best = 0;
        for (int i = 1; i < palette.size(); ++i) {
            const auto squared = [&](QRgb p) {
                const int r = qRed(colour) - qRed(p), g = qGreen(colour) - qGreen(p), b = qBlue(colour) - qBlue(p);
                return r * r + g * g + b * b;
            };
            if (squared(palette[i]) < squared(palette[best]))
                best = i;
        }
        index[colour] = static_cast<uchar>(best);
    }
    QImage indexed(rgb.size(), QImage::Format_Indexed8);
    indexed.setColorTable(QList<QRgb>(palette.begin(), palette.end()));
    for (int y = 0; y < rgb.height(); ++y) {
        const QRgb* row = reinterpret_cast<const QRgb*>(rgb.constScanLine(y));
        uchar* out = indexed.scanLine(y);
        for (int x = 0; x < rgb.width(); ++x)
            out[x] = index[row[x] | 0xff000000u];
    }
    return indexed;
}

bool SaveScreen(const QString& path, const QRect& area = {})
{
    QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen)
        return false;
    QPixmap shot = screen->grabWindow(0);
    if (area.isValid())
        shot = shot.copy(area.intersected(shot.rect()));
    const bool saved = ToPalette(shot.toImage()).save(path, "PNG");
    std::fprintf(saved ? stdout : stderr, "%s %s\n", saved ? "wrote" : "cannot write", qPrintable(path));
    return saved;
}

CChildFrame* FrameOf(CMainFrame& frame, CLumivexDoc* document)
{
    for (CChildFrame* child : frame.ChildFrames())
        if (child->Document() == document)
            return child;
    return nullptr;
}

// Places a document window so that its whole image shows without scroll bars.
void PlaceShowingImage(CChildFrame* child, const QPoint& position)
{
    const CDibImage* image = child->Document()->m_pImage.get();
    const QSize picture = image ? QSize(image->m_nWidth, image->m_nHeight) : QSize(320, 240);
    for (int attempt = 0; attempt < 3; ++attempt) {
        const QSize client = child->View()->viewport()->size();
        child->setGeometry(QRect(position, child->size() + (picture - client)));
        QCoreApplication::processEvents();
    }
}

void Trigger(CMainFrame& frame, int id)
{
    QAction* action = frame.Action(id);
    if (action && action->isEnabled())
        action->trigger();
    else
        std::fprintf(stderr, "command %d is not available\n", id);
}

// The whole walk; false when something on the way went wrong.
bool TakeScreenshots(CLumivexApp& app, const QString& outDir, const QStringList& photos)
{
    CMainFrame& frame = *app.MainFrame();
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    frame.setGeometry(screen);
    frame.activateWindow();
    Settle();

    CPhotoList answers(photos);
    SetFileDialogs(&answers);
    Trigger(frame, ids::kFileOpen);
    CLumivexDoc* first = frame.ActiveDocument();
    Trigger(frame, ids::kFileOpen);
    CLumivexDoc* second = frame.ActiveDocument();
    SetFileDialogs(nullptr);
    if (!first || !second || first == second || !first->HasImage() || !second->HasImage()) {
        std::fprintf(stderr, "the photos could not be opened\n");
        return false;
    }

    // Local > CLHE on the first photo, its dialog answered with OK.
    frame.MdiArea()->setActiveSubWindow(FrameOf(frame, first));
    QTimer::singleShot(0, [] {
        if (auto* dialog = qobject_cast<CParamDialog*>(QApplication::activeModalWidget()))
            dialog->OkButton()->click();
    });
    Trigger(frame, kClheCommand);
    CLumivexDoc* result = frame.ActiveDocument();
    if (!result || result == first || result == second) {
        std::fprintf(stderr, "CLHE made no document\n");
        return false;
    }

    // Photo and result side by side, the second photo below, the histogram beside it.
    const int gap = 10;
    CChildFrame* firstWindow = FrameOf(frame, first);
    CChildFrame* resultWindow = FrameOf(frame, result);
    CChildFrame* secondWindow = FrameOf(frame, second);
    PlaceShowingImage(firstWindow, QPoint(gap, gap));
    PlaceShowingImage(resultWindow, QPoint(firstWindow->geometry().right() + 1 + gap, gap));
    PlaceShowingImage(secondWindow, QPoint(gap, firstWindow->geometry().bottom() + 1 + gap));

    frame.MdiArea()->setActiveSubWindow(resultWindow);
    Trigger(frame, ids::kHistogram);
    auto* histogram = qobject_cast<CHistogramDlg*>(result->m_pHistogramDlg.get());
    if (!histogram) {
        std::fprintf(stderr, "the histogram window did not open\n");
        return false;
    }
    const QPoint area = frame.MdiArea()->viewport()->mapToGlobal(QPoint(0, 0));
    histogram->move(area + QPoint(secondWindow->geometry().right() + 1 + 2 * gap,
                                  secondWindow->geometry().bottom() - histogram->height()));
    Settle();

    // The main window takes the focus back, with the result as its active
    // document: its time in pane 1, a pixel of it in pane 0.
    frame.activateWindow();
    frame.MdiArea()->setActiveSubWindow(resultWindow);
    resultWindow->View()->setFocus();
    Settle();
    QWidget* viewport = resultWindow->View()->viewport();
    const QPointF point(180, 120);
    QMouseEvent move(QEvent::MouseMove, point, viewport->mapToGlobal(point), Qt::NoButton, Qt::NoButton,
                     Qt::NoModifier);
    QCoreApplication::sendEvent(viewport, &move);
    Settle();
    if (!SaveScreen(QDir(outDir).filePath(QStringLiteral("workbench.png"))))
        return false;

    // A parameter dialog, as Filtering > Three channel filtering shows it over the workbench.
    frame.MdiArea()->setActiveSubWindow(firstWindow);
    bool saved = false;
    QTimer::singleShot(0, [&] {
        auto* dialog = qobject_cast<CParamDialog*>(QApplication::activeModalWidget());
        if (!dialog) {
            std::fprintf(stderr, "the parameter dialog did not open\n");
            return;
        }
        dialog->move(firstWindow->mapToGlobal(QPoint(40, 50)));
        Settle();
        const QRect around = dialog->frameGeometry().adjusted(-30, -30, 30, 30);
        saved = SaveScreen(QDir(outDir).filePath(QStringLiteral("dialog.png")), around);
        dialog->CancelButton()->click();
    });
    Trigger(frame, kThreeChannelCommand);
    return saved;
}

}  // namespace

int main(int argc, char* argv[])
{
    QApplication application(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    if (arguments.size() != 2 && arguments.size() != 4) {
        std::fprintf(stderr, "usage: lumivex-screenshots OUTDIR [PHOTO PHOTO]\n");
        return 2;
    }
    const QString outDir = arguments[1];
    QStringList photos = arguments.size() == 4 ? arguments.mid(2)
                                               : QStringList{SamplePath("chelsea_451x300.bmp"),
                                                             SamplePath("hubble_dark_400x300.jpg")};
    for (QString& photo : photos) {
        if (photo.isEmpty() || !QFileInfo(photo).isFile()) {
            std::fprintf(stderr, "photo not found: %s\n", qPrintable(photo.isEmpty() ? QStringLiteral("(sample)") : photo));
            return 2;
        }
        photo = QFileInfo(photo).absoluteFilePath();
    }
    if (!QDir().mkpath(outDir)) {
        std::fprintf(stderr, "cannot create %s\n", qPrintable(outDir));
        return 2;
    }

    CLumivexApp app;
    if (!app.InitInstance())
        return 1;
    // A message box or a dialog left open must not keep the program waiting.
    QTimer::singleShot(60000, [] {
        std::fprintf(stderr, "lumivex-screenshots: timed out\n");
        std::_Exit(1);
    });
    int result = 1;
    QTimer::singleShot(0, [&] {
        result = TakeScreenshots(app, outDir, photos) ? 0 : 1;
        app.MainFrame()->close();
        QCoreApplication::exit(result);
    });
    application.exec();
    return result;
}
