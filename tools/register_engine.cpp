#include "register_engine.h"

#include <variant>

#include "text/cp1251.h"

namespace zelmo::sim {
namespace {

constexpr size_t kCheckWidth = 4;

std::string ByteName(char byte) {
  if (byte == kACK) return "ACK";
  if (byte == kNAK) return "NAK";
  if (byte == kEOT) return "EOT";
  static const char* kHex = "0123456789ABCDEF";
  const auto b = static_cast<unsigned char>(byte);
  return std::string("0x") + kHex[b >> 4] + kHex[b & 15];
}

std::string Describe(const std::string& answer) {
  if (answer.empty()) return "no answer";
  if (answer.size() > 4) return std::to_string(answer.size()) + " bytes";
  std::string text;
  for (char b : answer) text += (text.empty() ? "" : " ") + ByteName(b);
  return text;
}

std::string TrimRight(std::string text) {
  text.erase(text.find_last_not_of(' ') + 1);
  return text;
}

}  // namespace

Answer RegisterEngine::Take(char byte) {
  switch (state_) {
    case State::kIdle:
      if (byte == kENQ) return Complete(Received::kENQ);
      if (byte == kEOT) return Complete(Received::kEOT);
      if (byte == kSTX) {
        frame_.assign(1, byte);
        state_ = State::kBody;
      }
      return {};  // anything else between commands is line noise: ignored
    case State::kBody:
      frame_ += byte;
      if (byte == kETX) {
        state_ = State::kCheck;
      } else if (frame_.size() > kMaxFrameBody + 1) {
        state_ = State::kIdle;
        return Complete(Received::kRunawayFrame);
      }
      return {};
    case State::kCheck:
      frame_ += byte;
      if (frame_.size() < frame_.find(kETX) + 1 + kCheckWidth) return {};
      state_ = State::kIdle;
      return Complete(Received::kFrame);
  }
  return {};
}

// A whole command has arrived: answer it, faults first, and take it if it is acknowledged.
Answer RegisterEngine::Complete(Received what) {
  const int number = ++commands_;
  std::optional<Command> command;
  std::string description;
  bool wellFormed = true;
  switch (what) {
    case Received::kENQ:
      description = "ENQ";
      break;
    case Received::kEOT:
      description = "EOT";
      break;
    case Received::kRunawayFrame:
      wellFormed = false;
      description = "frame without ETX";
      break;
    case Received::kFrame: {
      FrameReading reading = ReadFrame(frame_);
      command = std::move(reading.command);
      wellFormed = command.has_value();
      description = wellFormed ? "frame " + frame_.substr(1, 3) : "bad frame: " + reading.problem;
      break;
    }
  }

  Answer answer;
  Response response = Respond(number, wellFormed);
  answer.bytes = std::move(response.bytes);
  if (response.positive) Accept(what, command);
  answer.hangUp = faults_.hangUpAfter > 0 && number >= faults_.hangUpAfter;
  answer.log = std::to_string(number) + ": " + description + " -> " + Describe(answer.bytes) +
               (answer.hangUp ? ", hang up" : "");
  return answer;
}

RegisterEngine::Response RegisterEngine::Respond(int number, bool wellFormed) {
  if (faults_.silentAfter >= 0 && number > faults_.silentAfter) return {};
  std::string bytes;
  if (auto burst = faults_.burst.find(number); burst != faults_.burst.end()) {
    bytes = Noise(burst->second);
  }
  if (auto garbage = faults_.garbage.find(number); garbage != faults_.garbage.end()) {
    return {bytes + garbage->second};
  }
  if (faults_.nak.count(number) != 0 || !wellFormed) return {bytes + kNAK};
  return {bytes + (faults_.eotForAck ? kEOT : kACK), true};
}

void RegisterEngine::Accept(Received what, const std::optional<Command>& command) {
  if (what == Received::kEOT && receipt_.total) receipt_.closed = true;
  if (!command) return;
  if (const auto* item = std::get_if<ItemCommand>(&*command)) {
    receipt_.items.push_back({AnsiToUtf8(TrimRight(item->nameAnsi)),
                              AnsiToUtf8(std::string(1, item->taxGroup)), item->unitPrice,
                              item->quantity, item->amount});
  } else if (const auto* total = std::get_if<TotalCommand>(&*command)) {
    receipt_.total = total->total;
  }
}

// Bytes that the bridge cannot take for a release: never ACK or EOT.
std::string RegisterEngine::Noise(int count) {
  std::string bytes;
  while (static_cast<int>(bytes.size()) < count) {
    noiseSeed_ = noiseSeed_ * 1103515245u + 12345u;
    const char b = static_cast<char>((noiseSeed_ >> 16) & 0xFF);
    if (b != kACK && b != kEOT) bytes += b;
  }
  return bytes;
}

}  // namespace zelmo::sim
