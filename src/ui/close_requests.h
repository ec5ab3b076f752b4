// The system asking a headless run to close (Ctrl+C, a terminating signal, the console going
// away) is the window's close request: `request` is called, from any thread, once per request.
#pragma once

#include <functional>

namespace zelmo {

// Call before any other thread is started.
void WatchCloseRequests(std::function<void()> request);

}  // namespace zelmo
