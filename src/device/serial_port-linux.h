// What the Linux port makes of the driver's counters, apart so that it can be checked without a
// UART.
#pragma once

#include <linux/serial.h>

#include <cstdint>
#include <vector>

namespace zelmo {

// The event of every counter that rose from `before` to `now`: CTS, DSR, CD, ring, break,
// framing, overrun, buffer overflow, parity, in that order; one event however much it rose.
std::vector<int16_t> CounterRises(const serial_icounter_struct& before,
                                  const serial_icounter_struct& now);

}  // namespace zelmo
