// The status page's files as they were in src/service/page/ when the program was built; their
// bytes are in a source that cmake/ZelmoPageFiles.cmake generates.
#pragma once

#include <span>
#include <string_view>

namespace zelmo::service {

struct PageFile {
  std::string_view name;  // the file's name in the page folder, e.g. "status.js"
  std::string_view body;
};

std::span<const PageFile> PageFiles();

}  // namespace zelmo::service
