#include "core/screen_metrics.h"

#include <atomic>
#include <thread>

#include <gtest/gtest.h>

namespace {

class ScreenMetricsTest : public ::testing::Test {
protected:
    void TearDown() override { ResetScreenMetrics(); }
};

TEST_F(ScreenMetricsTest, DefaultIs508MillimetresOver1920Pixels)
{
    ResetScreenMetrics();
    const ScreenMetrics metrics = CurrentScreenMetrics();
    EXPECT_EQ(metrics.widthMm, 508);
    EXPECT_EQ(metrics.widthPx, 1920);
}

TEST_F(ScreenMetricsTest, SetReplacesBothWidths)
{
    ASSERT_TRUE(SetScreenMetrics({600, 2560}));
    EXPECT_EQ(CurrentScreenMetrics().widthMm, 600);
    EXPECT_EQ(CurrentScreenMetrics().widthPx, 2560);
    ResetScreenMetrics();
    EXPECT_EQ(CurrentScreenMetrics().widthMm, 508);
}

TEST_F(ScreenMetricsTest, RefusesWidthsThatAreNotPositive)
{
    ASSERT_TRUE(SetScreenMetrics({300, 1024}));
    for (const ScreenMetrics bad : {ScreenMetrics{0, 1024}, ScreenMetrics{300, 0}, ScreenMetrics{-1, 1024},
                                    ScreenMetrics{300, -5}}) {
        EXPECT_FALSE(IsValidScreenMetrics(bad));
        EXPECT_FALSE(SetScreenMetrics(bad));
        EXPECT_EQ(CurrentScreenMetrics().widthMm, 300);
        EXPECT_EQ(CurrentScreenMetrics().widthPx, 1024);
    }
}

TEST_F(ScreenMetricsTest, FromDpiRoundsToWholeMillimetres)
{
    struct Case {
        int px;
        double dpi;
        int mm;
    };
    for (const Case c : {Case{1920, 96.0, 508}, Case{1366, 96.0, 361}, Case{3840, 192.0, 508}, Case{1, 96.0, 1},
                         Case{2560, 109.0, 597}}) {
        const ScreenMetrics metrics = ScreenMetricsAtDpi(c.px, c.dpi);
        EXPECT_EQ(metrics.widthPx, c.px);
        EXPECT_EQ(metrics.widthMm, c.mm) << c.px << " px at " << c.dpi << " dpi";
    }
    EXPECT_EQ(ScreenMetricsAtDpi(1280).widthMm, 339);  // 96 dpi by default
    EXPECT_EQ(ScreenMetricsAtDpi(0).widthPx, 1920);    // nonsense in, default out
    EXPECT_EQ(ScreenMetricsAtDpi(1280, 0.0).widthMm, 508);
}

TEST_F(ScreenMetricsTest, ReadersNeverSeeHalfAnUpdate)
{
    ResetScreenMetrics();
    std::atomic<bool> stop{false};
    std::atomic<int> torn{0};
    std::thread reader([&] {
        while (!stop.load()) {
            const ScreenMetrics m = CurrentScreenMetrics();
            // Every pair written below has widthPx = 4 * widthMm; the only other one is the default.
            if (!(m.widthPx == 4 * m.widthMm || (m.widthMm == 508 && m.widthPx == 1920)))
                torn.fetch_add(1);
        }
    });
    for (int i = 1; i <= 20000; ++i)
        SetScreenMetrics({i, 4 * i});
    stop.store(true);
    reader.join();
    EXPECT_EQ(torn.load(), 0);
}

}  // namespace
