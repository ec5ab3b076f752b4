#include "bench_fixtures.h"

#include <array>
#include <fstream>
#include <random>
#include <stdexcept>

#include "text/cp1251.h"

namespace bench {
namespace {

constexpr std::array<const char*, 6> kNames = {
    "Млеко 3,2% 1л", "Леб бел 500г", "Шеќер 1кг", "Јаболка", "Вода минерална 1.5л", "Сирење бело",
};
constexpr std::array<const char*, 4> kTaxGroups = {"Б", "A", "b", "a"};

}  // namespace

std::string ReceiptLine(int index) {
  const int cents = 100 + (index * 7919) % 99900;
  const int grams = 1 + (index * 37) % 4999;
  return std::string(kNames[index % kNames.size()]) + ";" + std::to_string(grams / 1000) + "." +
         std::to_string(1000 + grams % 1000).substr(1) + ";" +
         kTaxGroups[index % kTaxGroups.size()] + ";" + std::to_string(cents / 100) + "." +
         std::to_string(100 + cents % 100).substr(1);
}

std::string ReceiptFile(int lines) {
  std::string text;
  for (int i = 0; i < lines; ++i) text += ReceiptLine(i) + "\r\n";
  return zelmo::Utf8ToAnsi(text);
}

std::string SettingsFile(int lines) {
  const std::string settings =
      "[Parametri]\r\nSeriska=1\r\nPrikaziForma=0\r\nDelimiter=;\r\nClear=1\r\n";
  constexpr int kSettingsLines = 5;
  std::string text;
  for (int i = 0; i < lines - kSettingsLines; ++i) {
    text += i % 10 == 0 ? "[Каса" + std::to_string(i / 10) + "]\r\n"
                        : "Клуч" + std::to_string(i) + "=вредност " + std::to_string(i) + "\r\n";
  }
  return zelmo::Utf8ToAnsi(text + settings);
}

ScratchDir::ScratchDir() {
  std::random_device random;
  path_ = std::filesystem::temp_directory_path() / ("zelmo-bench-" + std::to_string(random()));
  std::filesystem::create_directories(path_);
}

ScratchDir::~ScratchDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

std::string ScratchDir::Write(const std::string& name, const std::string& bytes) const {
  const std::filesystem::path file = path_ / name;
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out << bytes;
  if (!out) throw std::runtime_error("cannot write " + file.string());
  return file.string();
}

}  // namespace bench
