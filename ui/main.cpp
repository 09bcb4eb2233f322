// Lumivex, the desktop workbench for contrast enhancement of gray images.
#include <QApplication>

#include "ui/lumivex_app.h"

int main(int argc, char* argv[])
{
    QApplication application(argc, argv);
    // Arguments are accepted and ignored: the workspace always starts empty.
    CLumivexApp app;
    if (!app.InitInstance())
        return 0;
    const int result = application.exec();
    app.ExitInstance();
    return result;
}
