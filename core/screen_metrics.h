// The screen JGACE adapts to: its physical width and its width in pixels.
//
// JGACE turns a block's crossings per pixel into cycles per degree of visual
// angle, and for that it needs the pixel pitch of the screen the picture is
// viewed on (millimetres per pixel = widthMm / widthPx). This header keeps one
// process-wide pair of numbers for it, toolkit-free:
//  - lumivex-cli sets them from --screen-width-mm and --screen-width-px;
//  - the desktop program sets them from the screen it runs on, falling back to
//    ScreenMetricsAtDpi(widthPx) (96 dpi) when the platform reports no
//    physical size;
//  - with nobody setting them they are 508 mm over 1920 px, a 96 dpi screen.
//
// Reads and writes are safe from any thread; a read always sees a pair that
// was set together.
#pragma once

struct ScreenMetrics {
    int widthMm = 508;   // physical width, whole millimetres, > 0
    int widthPx = 1920;  // width in pixels, > 0
};

// Both widths positive: the only metrics from which a finite, non-zero pitch follows.
inline bool IsValidScreenMetrics(const ScreenMetrics& metrics)
{
    return metrics.widthMm > 0 && metrics.widthPx > 0;
}

// The metrics JGACE uses now.
ScreenMetrics CurrentScreenMetrics();

// Replaces the current metrics. Refuses (returns false, changes nothing) unless
// both widths are positive, so the pitch can never become zero, infinite or NaN.
bool SetScreenMetrics(const ScreenMetrics& metrics);

// Back to 508 mm over 1920 px.
void ResetScreenMetrics();

// A screen widthPx pixels wide at the given density (default 96 dpi), its width
// rounded to whole millimetres and at least 1: 1920 px at 96 dpi give 508 mm.
// For platforms that know the pixels but not the physical size. A width or a
// density that is not positive gives the default metrics.
ScreenMetrics ScreenMetricsAtDpi(int widthPx, double dotsPerInch = 96.0);
