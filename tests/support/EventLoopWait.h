#pragma once

#include <functional>

// Waits until `done` holds, at most `ms`, in a real event loop. QTest::qWaitFor sleeps between
// its rounds of events, and the engine needs many rounds (one per task it hands over between
// threads): under it a page with many messages runs many times slower than in the program.
bool WaitFor(const std::function<bool()>& done, int ms);

// Lets the event loop run for `ms`.
void Spin(int ms);

// A marker for "nothing more happens": posts a call to the event loop and waits until it has
// run, `hops` times in a row (each hop posted by the one before). Every queued call already
// waiting, and every chain of up to `hops` queued calls started before this one, has run by then.
bool RunQueuedCalls(int hops = 8, int ms = 10000);

// How long a test watches for something that must not happen when nothing can mark its
// absence: a timer of the program that would fire again (the window asks for a page's text
// every 500 ms while it watches a page), or an event the engine may send late.
inline constexpr int kQuietPeriodMs = 1200;
