// Message texts break their lines with "\r\n", as Windows message boxes do; a stream (a
// terminal, a log, standard error) wants "\n".
#pragma once

#include <string>
#include <string_view>

namespace zelmo {

// The text with each "\r\n" made "\n"; a lone CR or LF stays as it is.
std::string StreamLines(std::string_view text);

}  // namespace zelmo
