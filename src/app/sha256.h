// SHA-256 of a byte string, as 64 lower-case hex digits: what the journal knows a receipt by.
#pragma once

#include <string>
#include <string_view>

namespace zelmo {

std::string Sha256Hex(std::string_view bytes);

}  // namespace zelmo
