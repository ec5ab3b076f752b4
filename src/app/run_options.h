// The optional keys of [Parametri]: each one absent leaves the run as it always was; a value that
// is there must be one the key may hold, or the run ends before anything is sent.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "app/job_state.h"

namespace zelmo {

// The key's value as the file holds it, empty when the key is not there.
using KeyReader = std::function<std::string(const char* key)>;

// Puts the keys found into `state`. Returns what is wrong with the first value that is not valid
// ("Settings=\"9600,x,8,1\": ..."), naming the key and what it may hold; nothing when all are.
std::optional<std::string> ReadRunOptions(const KeyReader& read, JobState& state);

}  // namespace zelmo
