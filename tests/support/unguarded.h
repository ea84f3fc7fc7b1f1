// A device's guarded report and queue, read by a test's own thread once the threads sharing them are done; and
// its facts, set by a test as discovery or the monitor would before the device's threads start.
#pragma once
#include "app/thread_annotations.h"
#include "device/blkdev.h"
template <class D> auto& report_of(D& dev) NO_THREAD_SAFETY_ANALYSIS { return *dev.report; }
template <class D> auto& queue_of(D& dev) NO_THREAD_SAFETY_ANALYSIS { return dev.queue; }
struct FactsOf : CBlkDev { static CBlkDevData& Of(CBlkDev& dev) { return dev; } };
inline CBlkDevData& facts_of(CBlkDev& dev) { return FactsOf::Of(dev); }
