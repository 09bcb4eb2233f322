#include "core/parallel.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <thread>
#include <vector>

namespace {

std::atomic<int> g_override{0};

int DefaultThreadCount()
{
    if (const char* env = std::getenv("LUMIVEX_THREADS")) {
        char* end = nullptr;
        const long value = std::strtol(env, &end, 10);
        if (end != env && *end == '\0' && value > 0)
            return static_cast<int>(std::min<long>(value, 256));
    }
    const unsigned cores = std::thread::hardware_concurrency();
    return cores == 0 ? 1 : static_cast<int>(std::min(cores, 256u));
}

}  // namespace

int WorkerThreadCount()
{
    const int forced = g_override.load();
    return forced > 0 ? forced : DefaultThreadCount();
}

void SetWorkerThreadCount(int threads)
{
    g_override.store(threads > 0 ? std::min(threads, 256) : 0);
}

void ParallelForBands(int count, int minPerBand, const std::function<void(int, int)>& body)
{
    if (count <= 0)
        return;
    minPerBand = std::max(minPerBand, 1);
    const int bands = std::clamp(count / minPerBand, 1, WorkerThreadCount());
    if (bands == 1) {
        body(0, count);
        return;
    }
    std::vector<std::thread> workers;
    workers.reserve(bands - 1);
    int begin = 0;
    for (int b = 0; b < bands; ++b) {
        const int end = static_cast<int>(static_cast<long long>(count) * (b + 1) / bands);
        if (b + 1 < bands)
            workers.emplace_back(body, begin, end);
        else
            body(begin, end);
        begin = end;
    }
    for (std::thread& worker : workers)
        worker.join();
}
