#include "service/status_page.h"

#include <gtest/gtest.h>

#include <regex>
#include <string>

namespace zelmo::service {
namespace {

TEST(StatusPage, ServesThePageAndItsFilesWithTheirTypes) {
  struct Case {
    const char* path;
    const char* type;
  };
  for (const Case& c :
       {Case{"/", "text/html; charset=utf-8"}, Case{"/status.css", "text/css; charset=utf-8"},
        Case{"/status.js", "text/javascript; charset=utf-8"}}) {
    SCOPED_TRACE(c.path);
    const auto asset = FindPageAsset(c.path);
    ASSERT_TRUE(asset);
    EXPECT_EQ(asset->contentType, c.type);
    EXPECT_FALSE(asset->body.empty());
  }
  EXPECT_TRUE(FindPageAsset("/")->body.starts_with("<!doctype html>"));
}

TEST(StatusPage, KnowsNothingElse) {
  for (const char* path : {"", "status.js", "/v1/health", "/metrics", "/status.js/",
                           "/../status.js", "/page/status.js", "/STATUS.JS", "/favicon.ico"}) {
    EXPECT_FALSE(FindPageAsset(path)) << path;
  }
}

// The page may fetch nothing from elsewhere: every file it names is one of its own, and no
// address of another site appears in any of them.
TEST(StatusPage, NamesOnlyItsOwnFiles) {
  const std::string html(FindPageAsset("/")->body);
  const std::regex reference(R"re((?:src|href)="([^"]*)")re");
  int references = 0;
  for (std::sregex_iterator it(html.begin(), html.end(), reference), end; it != end; ++it) {
    const std::string target = (*it)[1];
    if (target.starts_with("data:")) continue;
    EXPECT_TRUE(FindPageAsset(target)) << target;
    ++references;
  }
  EXPECT_GE(references, 2);  // its style sheet and its script
  for (const char* path : {"/", "/status.css", "/status.js"}) {
    const std::string_view body = FindPageAsset(path)->body;
    EXPECT_EQ(body.find("http://"), std::string_view::npos) << path;
    EXPECT_EQ(body.find("https://"), std::string_view::npos) << path;
    EXPECT_EQ(body.find("@import"), std::string_view::npos) << path;
  }
}

}  // namespace
}  // namespace zelmo::service
