#include "ui/screen_setup.h"

#include <cmath>

#include <QGuiApplication>
#include <QScreen>

#include "core/screen_metrics.h"

void SetScreenMetricsFromPrimaryScreen()
{
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen)
        return;
    const int widthPx = static_cast<int>(std::lround(screen->geometry().width() * screen->devicePixelRatio()));
    const ScreenMetrics reported{static_cast<int>(std::lround(screen->physicalSize().width())), widthPx};
    if (!SetScreenMetrics(reported))
        SetScreenMetrics(ScreenMetricsAtDpi(widthPx));
}
