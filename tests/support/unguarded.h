// A device's guarded report and queue, read by a test's own thread once the threads sharing them are done.
#pragma once
#include "app/thread_annotations.h"
template <class D> auto& report_of(D& dev) NO_THREAD_SAFETY_ANALYSIS { return *dev.report; }
template <class D> auto& queue_of(D& dev) NO_THREAD_SAFETY_ANALYSIS { return dev.queue; }
