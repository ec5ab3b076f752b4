#include "text/line_breaks.h"

namespace zelmo {

std::string StreamLines(std::string_view text) {
  std::string lines;
  lines.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text.compare(i, 2, "\r\n") != 0) lines += text[i];
  }
  return lines;
}

}  // namespace zelmo
