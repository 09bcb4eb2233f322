// Row bands on several cores, with results that never depend on the thread count.
//
// An operation splits its rows into contiguous bands and gives each band to one
// worker; a band keeps its own running state (window histograms, running sums),
// so the output is the same for 1, 2 or 7 threads. Threads are started per call
// and joined before it returns: no pool outlives an operation, and nothing here
// touches the caller's thread model.
#pragma once

#include <functional>

// Number of workers operations use: the last SetWorkerThreadCount value, else
// the LUMIVEX_THREADS environment variable, else the machine's core count.
int WorkerThreadCount();

// Overrides the worker count for the whole process; 0 or less restores the default.
void SetWorkerThreadCount(int threads);

// Calls body(begin, end) over [0, count) split into at most WorkerThreadCount()
// contiguous bands of at least minPerBand items each; returns when all are done.
// The bands are disjoint and cover [0, count) exactly once.
void ParallelForBands(int count, int minPerBand, const std::function<void(int begin, int end)>& body);
