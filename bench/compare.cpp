// lumivex_compare: every command beside the nearest OpenCV operation, on the same pixels, in one process.
//
// Both sides see the shared 4000 x 3000 photo-like image (bench/bench_images.h).
// Ours is timed as the pipeline times it: the command's operation on a fresh
// working copy made outside the timed region. The peer runs on a cv::Mat
// holding a copy of the same buffer, writing into a preallocated result.
// Repetitions alternate ours and peer, so a machine whose load changes during
// the run slows both alike: the ratio is the median of each repetition's own
// ours / peer, and the times are the medians of the repetitions after one
// warm-up. Everything runs twice: with one thread on both sides, then with
// every core on both sides.
//
// Usage: lumivex_compare [--reps N] [--threads N] [--only NAME[,NAME...]] [--markdown]
//   --reps N      timed repetitions per figure (default 7; 3 for rows whose warm-up takes over 3 s)
//   --threads N   worker count of the "all cores" pass (default: the machine's core count)
//   --only ...    measure only these rows (command names, "copy", "histogram", "jpeg", "jpeg-gray")
//   --markdown    print the README tables on stdout; the console table goes to stderr
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <sys/resource.h>
#include <unistd.h>

#include <opencv2/core.hpp>
#include <opencv2/core/utility.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "bench/bench_images.h"
#include "core/messages.h"
#include "core/parallel.h"
#include "document/commands/command_table.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Row {
    std::string name;        // the command's cliName, or a reference operation
    std::string parameters;  // what ours runs with
    std::string peerName;    // empty: no OpenCV operation comes near
    std::optional<double> target;
    std::function<void()> prepareOurs;  // untimed, before every run of ours
    std::function<bool()> ours;         // timed; false = the operation failed
    std::function<void()> preparePeer;  // untimed, may be empty
    std::function<void()> peer;         // timed, may be empty
};

struct Figures {
    double oursMs = 0;
    double peerMs = 0;  // 0 without a peer
    double ratio = 0;   // median of the paired ratios; 0 without a peer
    bool failed = false;
};

struct Measured {
    const Row* row;
    Figures one, all;
};

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    const std::size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

double TimeMs(const std::function<void()>& body)
{
    const Clock::time_point start = Clock::now();
    body();
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

Figures Measure(const Row& row, int reps)
{
    Figures figures;
    auto runOurs = [&] {
        if (row.prepareOurs)
            row.prepareOurs();
        bool ok = true;
        const double ms = TimeMs([&] { ok = row.ours(); });
        figures.failed = figures.failed || !ok;
        return ms;
    };
    auto runPeer = [&] {
        if (!row.peer)
            return 0.0;
        if (row.preparePeer)
            row.preparePeer();
        return TimeMs(row.peer);
    };
    const double warmUp = runOurs() + runPeer();
    if (warmUp > 3000.0)
        reps = std::min(reps, 3);
    std::vector<double> ours, peer, ratios;
    for (int i = 0; i < reps; ++i) {
        ours.push_back(runOurs());
        peer.push_back(runPeer());
        if (peer.back() > 0)
            ratios.push_back(ours.back() / peer.back());
    }
    figures.oursMs = Median(ours);
    if (row.peer && !ratios.empty()) {
        figures.peerMs = Median(peer);
        figures.ratio = Median(ratios);
    }
    return figures;
}

constexpr double kMegapixels = static_cast<double>(bench::kWidth) * bench::kHeight / 1e6;

std::string Fixed(double value, int decimals)
{
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

// Milliseconds with three significant digits or at least one decimal.
std::string Ms(double ms)
{
    return Fixed(ms, ms >= 99.95 ? 0 : ms >= 9.995 ? 1 : 2);
}

std::string MegapixelsPerSecond(const Figures& f)
{
    const double rate = kMegapixels / (f.oursMs / 1000.0);
    return Fixed(rate, rate >= 100 ? 0 : 1);
}

std::string Ratio(const Figures& f, const char* none)
{
    return f.ratio > 0 ? Fixed(f.ratio, 2) : none;
}

std::string Verdict(const Row& row, const Figures& f)
{
    if (f.failed)
        return "FAILED";
    if (!row.target || f.ratio <= 0)
        return "";
    return f.ratio <= *row.target ? "ok" : "OVER";
}

std::string Target(const Row& row)
{
    return row.target ? "<= " + Fixed(*row.target, 1) : "-";
}

void PrintConsoleHeader(std::FILE* out, int threads)
{
    std::fprintf(out, "\n%d thread%s, ours and OpenCV alike (median ms; ratio: median of the runs' ours / OpenCV)\n", threads,
                 threads == 1 ? "" : "s");
    std::fprintf(out, "%-17s %-38s %-31s %9s %10s %7s %8s %-6s %9s\n", "command", "parameters", "OpenCV peer", "ours ms",
                 "peer ms", "ratio", "target", "", "ours MP/s");
}

void PrintConsoleRow(std::FILE* out, const Row& row, const Figures& f)
{
    std::fprintf(out, "%-17s %-38s %-31s %9s %10s %7s %8s %-6s %9s\n", row.name.c_str(), row.parameters.c_str(),
                 row.peerName.empty() ? "-" : row.peerName.c_str(), Ms(f.oursMs).c_str(),
                 f.peerMs > 0 ? Ms(f.peerMs).c_str() : "-", Ratio(f, "-").c_str(), Target(row).c_str(), Verdict(row, f).c_str(),
                 MegapixelsPerSecond(f).c_str());
    std::fflush(out);
}

void PrintMarkdownTable(const std::vector<Measured>& measured, bool allCores, int threads)
{
    std::printf("%s (%d thread%s for Lumivex and for OpenCV):\n\n", allCores ? "All cores" : "One thread", threads,
                threads == 1 ? "" : "s");
    std::printf("| command | parameters | OpenCV peer | ours (ms) | OpenCV (ms) | ours / OpenCV | target | ours (MP/s) |\n");
    std::printf("|---|---|---|--:|--:|--:|--:|--:|\n");
    for (const Measured& m : measured) {
        const Row& row = *m.row;
        const Figures& f = allCores ? m.all : m.one;
        std::string ratio = Ratio(f, "—");
        const std::string verdict = Verdict(row, f);
        if (verdict == "OVER" || verdict == "FAILED")
            ratio = "**" + ratio + "**";
        std::printf("| `%s` | %s | %s | %s | %s | %s | %s | %s |\n", row.name.c_str(), row.parameters.c_str(),
                    row.peerName.empty() ? "—" : row.peerName.c_str(), Ms(f.oursMs).c_str(),
                    f.peerMs > 0 ? Ms(f.peerMs).c_str() : "—", ratio.c_str(),
                    row.target ? ("≤ " + Fixed(*row.target, 1)).c_str() : "—",
                    MegapixelsPerSecond(f).c_str());
    }
    std::printf("\n");
}

// CPU seconds the whole machine spent busy (everything but idle and I/O wait)
// and in steal, from /proc/stat; nothing where it cannot be read.
struct MachineTime {
    double busy = 0, steal = 0, wall = 0, self = 0;
    bool known = false;
};

MachineTime ReadMachineTime()
{
    MachineTime t;
    t.wall = std::chrono::duration<double>(Clock::now().time_since_epoch()).count();
    rusage usage{};
    if (getrusage(RUSAGE_SELF, &usage) == 0)
        t.self = usage.ru_utime.tv_sec + usage.ru_utime.tv_usec / 1e6 + usage.ru_stime.tv_sec + usage.ru_stime.tv_usec / 1e6;
    std::ifstream stat("/proc/stat");
    std::string cpu;
    double user = 0, nice = 0, system = 0, idle = 0, iowait = 0, irq = 0, softirq = 0, steal = 0;
    if (!(stat >> cpu >> user >> nice >> system >> idle >> iowait >> irq >> softirq >> steal) || cpu != "cpu")
        return t;
    const double tick = static_cast<double>(sysconf(_SC_CLK_TCK));
    t.busy = (user + nice + system + irq + softirq) / tick;
    t.steal = steal / tick;
    t.known = tick > 0;
    return t;
}

// How much of the machine other work took while we measured, in cores.
std::string OtherLoad(const MachineTime& start, const MachineTime& end)
{
    const double wall = end.wall - start.wall;
    if (!start.known || !end.known || wall <= 0)
        return "";
    const double others = std::max(0.0, (end.busy - start.busy) - (end.self - start.self)) / wall;
    const double steal = (end.steal - start.steal) / wall;
    return "other processes kept " + Fixed(others, 2) + " cores busy on average (steal " + Fixed(steal, 2) +
           " cores) during the " + Fixed(wall, 1) + " s of measurement";
}

std::string Describe(const CommandSpec& command, const ParamValues& values)
{
    std::ostringstream text;
    for (std::size_t i = 0; i < command.params.size(); ++i) {
        const ParamSpec& p = command.params[i];
        if (p.type == ParamType::Bool && !AsBool(values[i]))
            continue;
        if (text.tellp() > 0)
            text << ' ';
        text << p.cliName;
        if (p.type != ParamType::Bool)
            text << ' ' << FormatParamValue(values[i]);
    }
    return text.tellp() > 0 ? text.str() : "none";
}

bool Wanted(const std::vector<std::string>& only, const std::string& name)
{
    return only.empty() || std::find(only.begin(), only.end(), name) != only.end();
}

int Usage()
{
    std::fprintf(stderr, "usage: lumivex_compare [--reps N] [--threads N] [--only NAME[,NAME...]] [--markdown]\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv)
{
    int reps = 7;
    int allThreads = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    bool markdown = false;
    std::vector<std::string> only;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--markdown") {
            markdown = true;
        } else if ((arg == "--reps" || arg == "--threads" || arg == "--only") && i + 1 < argc) {
            const std::string value = argv[++i];
            if (arg == "--only") {
                std::stringstream list(value);
                for (std::string name; std::getline(list, name, ',');)
                    only.push_back(name);
                continue;
            }
            const int n = std::atoi(value.c_str());
            if (n < 1 || n > 256)
                return Usage();
            (arg == "--reps" ? reps : allThreads) = n;
        } else {
            return Usage();
        }
    }
    std::FILE* console = markdown ? stderr : stdout;

    // Both sides work on the same pixels: the peer's matrix holds a copy of the source buffer.
    CDibImage& source = const_cast<CDibImage&>(bench::PhotoLike());
    const cv::Mat src = cv::Mat(bench::kHeight, bench::kWidth, CV_8UC1, source.m_pBits.get()).clone();
    cv::Mat dst(src.size(), CV_8UC1), tmp7(src.size(), CV_8UC1), tmp25(src.size(), CV_8UC1), hist;
    CDibImage work;
    auto freshCopy = [&] { bench::FreshCopy(work); };

    std::vector<uchar> table(256);
    for (int i = 0; i < 256; ++i)
        table[i] = static_cast<uchar>(255 - i);
    const cv::Mat lut(1, 256, CV_8UC1, table.data());
    const cv::Ptr<cv::CLAHE> clahe = cv::createCLAHE(40.0, cv::Size(8, 8));

    const std::function<void()> equalizeHist = [&] { cv::equalizeHist(src, dst); };
    const std::function<void()> applyLut = [&] { cv::LUT(src, lut, dst); };
    const std::function<void()> applyClahe = [&] { clahe->apply(src, dst); };
    const std::function<void()> twoMeansAndBlend = [&] {
        cv::blur(src, tmp7, cv::Size(7, 7));
        cv::blur(src, tmp25, cv::Size(25, 25));
        cv::addWeighted(tmp7, 0.5, tmp25, 0.5, 0.0, dst);
    };
    const std::function<void()> calcHist = [&] {
        const int channels[] = {0};
        const int bins[] = {256};
        const float range[] = {0, 256};
        const float* ranges[] = {range};
        cv::calcHist(&src, 1, channels, cv::noArray(), hist, 1, bins, ranges);
    };
    const std::string twoMeansName = "blur 7 + blur 25 + addWeighted";

    struct PeerOf {
        std::string name;
        std::function<void()> run;
        std::optional<double> target;
    };
    auto peerFor = [&](const CommandSpec& command) -> PeerOf {
        const std::string_view n = command.cliName;
        if (n == "stretch" || n == "gamma")
            return {"LUT (256 entries)", applyLut, 1.0};
        if (n == "ghe")
            return {"equalizeHist", equalizeHist, 0.8};
        if (n == "tghe")
            return {"equalizeHist", equalizeHist, std::nullopt};
        if (n == "ahe")
            return {"CLAHE 8 x 8 tiles, clip 40", applyClahe, 1.0};
        if (n == "clhe")
            return {"CLAHE 8 x 8 tiles, clip 40", applyClahe, 1.5};
        if (n == "tahe")
            return {"CLAHE 8 x 8 tiles, clip 40", applyClahe, std::nullopt};
        if (n == "unsharp") {
            const int mask = AsInt(command.Defaults()[0]);
            return {"blur " + std::to_string(mask) + " + addWeighted",
                    [&src, &dst, &tmp25, mask] {
                        cv::blur(src, tmp25, cv::Size(mask, mask));
                        cv::addWeighted(src, 2.0, tmp25, -1.0, 0.0, dst);
                    },
                    1.0};
        }
        if (n == "lowpass") {
            const int mask = AsInt(command.Defaults()[0]);
            return {"blur " + std::to_string(mask), [&src, &dst, mask] { cv::blur(src, dst, cv::Size(mask, mask)); }, 1.0};
        }
        if (n == "tcf" || n == "jgace")
            return {twoMeansName, twoMeansAndBlend, 1.5};
        // The combinations on this (not dark) image: gray-tghe only counts the
        // histogram, the other two filter with fixed weights.
        if (n == "gray-tghe")
            return {"calcHist", calcHist, std::nullopt};
        if (n == "tcf-tghe" || n == "gray-or-tcf-tghe")
            return {twoMeansName, twoMeansAndBlend, std::nullopt};
        return {"", {}, std::nullopt};
    };

    std::vector<Row> rows;
    // Reference rows: the working copy the pipeline makes before it starts the
    // clock (ours allocates, the peer copies into a matrix it already has) and
    // the histogram count most operations begin with.
    rows.push_back({"copy", "reference: the untimed working copy", "Mat::copyTo", std::nullopt, {},
                    [&] { bench::FreshCopy(work); return true; }, {}, [&] { src.copyTo(dst); }});
    rows.push_back({"histogram", "reference", "calcHist", std::nullopt, freshCopy, [&] { return work.ComputeHistogram(); },
                    {}, calcHist});

    std::vector<ParamValues> defaults;
    defaults.reserve(Commands().size());
    for (const CommandSpec& command : Commands()) {
        defaults.push_back(command.Defaults());
        const ParamValues* values = &defaults.back();
        PeerOf peer = peerFor(command);
        std::string parameters = Describe(command, *values);
        if (command.menu == "&Combination")
            parameters = "image not dark";
        rows.push_back({std::string(command.cliName), parameters, peer.name, peer.target, freshCopy,
                        [&, values, op = command.operation] { return op(work, source, *values) != 0; }, {}, peer.run});
    }

    // Opening a photo: a colour JPEG (as cameras write them) and a one-channel one.
    const std::filesystem::path folder =
        std::filesystem::temp_directory_path() / ("lumivex_compare_" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder);
    const std::string colourJpeg = (folder / "photo_colour.jpg").string();
    const std::string grayJpeg = (folder / "photo_gray.jpg").string();
    {
        cv::Mat b, g, r, bgr;
        src.convertTo(b, CV_8U, 0.8);
        src.convertTo(r, CV_8U, 1.1, 10.0);
        cv::merge(std::vector<cv::Mat>{b, src, r}, bgr);
        const std::vector<int> quality{cv::IMWRITE_JPEG_QUALITY, 90};
        if (!cv::imwrite(colourJpeg, bgr, quality) || !cv::imwrite(grayJpeg, src, quality)) {
            std::fprintf(stderr, "cannot write the JPEG files in %s\n", folder.string().c_str());
            return 1;
        }
    }
    std::unique_ptr<CDibImage> opened;
    auto addOpen = [&](const std::string& name, const std::string& path, const std::string& what) {
        rows.push_back({name, what, "imread IMREAD_GRAYSCALE", 1.0, [&] { opened = std::make_unique<CDibImage>(); },
                        [&opened, path] { return opened->LoadFromFile(path) && opened->ConvertToGray(); },
                        [&] { dst.release(); }, [&dst, path] { dst = cv::imread(path, cv::IMREAD_GRAYSCALE); }});
    };
    addOpen("jpeg", colourJpeg, "colour JPEG, quality 90: load + gray");
    addOpen("jpeg-gray", grayJpeg, "gray JPEG, quality 90: load + gray");

    std::vector<Measured> measured;
    for (const Row& row : rows)
        if (Wanted(only, row.name))
            measured.push_back({&row, {}, {}});
    if (measured.empty())
        return Usage();

    // A refusal would print through the message sink; none is expected on this image.
    SetMessageHandler([](const std::string& text) { std::fprintf(stderr, "message: %s\n", text.c_str()); });
    std::fprintf(console, "Lumivex against OpenCV %s on %d x %d (%.0f MP), %d timed runs per figure\n", CV_VERSION,
                 bench::kWidth, bench::kHeight, kMegapixels, reps);
    const MachineTime start = ReadMachineTime();
    for (const bool allCores : {false, true}) {
        const int threads = allCores ? allThreads : 1;
        SetWorkerThreadCount(threads);
        cv::setNumThreads(threads);
        PrintConsoleHeader(console, threads);
        for (Measured& m : measured) {
            Figures& f = allCores ? m.all : m.one;
            f = Measure(*m.row, reps);
            PrintConsoleRow(console, *m.row, f);
        }
    }
    SetWorkerThreadCount(0);
    const std::string otherLoad = OtherLoad(start, ReadMachineTime());
    if (!otherLoad.empty())
        std::fprintf(console, "\nOn this machine %s.\n", otherLoad.c_str());

    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);

    if (markdown) {
        if (!otherLoad.empty())
            std::printf("While it ran, %s.\n\n", otherLoad.c_str());
        PrintMarkdownTable(measured, false, 1);
        PrintMarkdownTable(measured, true, allThreads);
    }
    bool failed = false;
    for (const Measured& m : measured)
        failed = failed || m.one.failed || m.all.failed;
    return failed ? 1 : 0;
}
