#include "core/screen_metrics.h"

#include <atomic>
#include <cmath>
#include <cstdint>

namespace {

// Both widths packed into one word, so a reader never sees half of an update.
std::uint64_t Pack(const ScreenMetrics& metrics)
{
    return (static_cast<std::uint64_t>(static_cast<std::uint32_t>(metrics.widthMm)) << 32) |
           static_cast<std::uint32_t>(metrics.widthPx);
}

ScreenMetrics Unpack(std::uint64_t packed)
{
    ScreenMetrics metrics;
    metrics.widthMm = static_cast<int>(static_cast<std::uint32_t>(packed >> 32));
    metrics.widthPx = static_cast<int>(static_cast<std::uint32_t>(packed));
    return metrics;
}

std::atomic<std::uint64_t> g_metrics{Pack(ScreenMetrics{})};

}  // namespace

ScreenMetrics CurrentScreenMetrics()
{
    return Unpack(g_metrics.load());
}

bool SetScreenMetrics(const ScreenMetrics& metrics)
{
    if (!IsValidScreenMetrics(metrics))
        return false;
    g_metrics.store(Pack(metrics));
    return true;
}

void ResetScreenMetrics()
{
    g_metrics.store(Pack(ScreenMetrics{}));
}

ScreenMetrics ScreenMetricsAtDpi(int widthPx, double dotsPerInch)
{
    ScreenMetrics metrics;
    if (widthPx <= 0 || !(dotsPerInch > 0.0) || !std::isfinite(dotsPerInch))
        return metrics;
    metrics.widthPx = widthPx;
    const double mm = std::round(widthPx * 25.4 / dotsPerInch);
    metrics.widthMm = mm < 1.0 ? 1 : (mm > 2147483647.0 ? 2147483647 : static_cast<int>(mm));
    return metrics;
}
