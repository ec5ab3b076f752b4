// What the Linux port makes of the driver's counters and of the line settings it reads back,
// apart so that it can be checked without a UART.
#pragma once

#include <linux/serial.h>
#include <termios.h>

#include <cstdint>
#include <string>
#include <vector>

namespace zelmo {

// The event of every counter that rose from `before` to `now`: CTS, DSR, CD, ring, break,
// framing, overrun, buffer overflow, parity, in that order; one event however much it rose.
std::vector<int16_t> CounterRises(const serial_icounter_struct& before,
                                  const serial_icounter_struct& now);

// What of the line the port `asked` the driver for it did not keep (`got`, read back), named as
// the settings file names it: `settings` ("9600,N,8,1") and `handshaking` are the keys' values.
// Empty when all took. `bytesOnly`: the device carries bytes alone (a pseudo-terminal), so it has
// no data bits or parity to keep; its speed, stop bits and flow control are still compared.
std::string LineNotTaken(const termios& asked, const termios& got, bool bytesOnly,
                         const std::string& settings, int handshaking);

}  // namespace zelmo
