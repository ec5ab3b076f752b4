#include "service/status_page.h"

#include <algorithm>
#include <array>
#include <utility>

#include "service/page_files.h"

namespace zelmo::service {
namespace {

// Only the kinds of file the page is made of are served; anything else in the folder is not
// the page's and stays unreachable.
std::optional<std::string_view> ContentType(std::string_view name) {
  static constexpr std::array<std::pair<std::string_view, std::string_view>, 4> kTypes{{
      {".html", "text/html; charset=utf-8"},
      {".css", "text/css; charset=utf-8"},
      {".js", "text/javascript; charset=utf-8"},
      {".svg", "image/svg+xml"},
  }};
  for (const auto& [extension, type] : kTypes) {
    if (name.ends_with(extension)) return type;
  }
  return std::nullopt;
}

}  // namespace

std::optional<PageAsset> FindPageAsset(std::string_view path) {
  if (!path.starts_with('/')) return std::nullopt;
  const std::string_view name = path == "/" ? std::string_view("index.html") : path.substr(1);
  const auto files = PageFiles();
  const auto file =
      std::find_if(files.begin(), files.end(), [&](const PageFile& f) { return f.name == name; });
  if (file == files.end()) return std::nullopt;
  const auto type = ContentType(file->name);
  if (!type) return std::nullopt;
  return PageAsset{*type, file->body};
}

}  // namespace zelmo::service
