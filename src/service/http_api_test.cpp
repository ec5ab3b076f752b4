#include "service/http_api.h"

#include <gtest/gtest.h>

namespace zelmo::service {
namespace {

TEST(HttpChecks, HostIsLoopbackOrAListenHost) {
  ServiceSettings settings;
  settings.listen = {{"192.168.1.5", 8470, false}};
  for (const char* host :
       {"127.0.0.1:8470", "localhost:8470", "[::1]:8470", "localhost", "192.168.1.5:8470"})
    EXPECT_TRUE(HostAllowed(host, settings)) << host;
  // Names a rebinding page would bring, even when they resolve to loopback.
  for (const char* host :
       {"", "evil.example:8470", "127.0.0.1.nip.io:8470", "192.168.1.6:8470", "[::2]:8470"})
    EXPECT_FALSE(HostAllowed(host, settings)) << host;
}

TEST(HttpChecks, OriginIsListedOrTheServiceItself) {
  ServiceSettings settings;
  settings.origins = {"https://pos.example.com"};
  EXPECT_TRUE(OriginAllowed("https://pos.example.com", "127.0.0.1:8470", settings));
  EXPECT_TRUE(OriginAllowed("http://127.0.0.1:8470", "127.0.0.1:8470", settings));
  EXPECT_FALSE(OriginAllowed("http://127.0.0.1:8471", "127.0.0.1:8470", settings));
  EXPECT_FALSE(OriginAllowed("https://pos.example.com.evil", "127.0.0.1:8470", settings));
  EXPECT_FALSE(OriginAllowed("null", "127.0.0.1:8470", settings));
}

TEST(HttpChecks, IdempotencyKeysAndBearer) {
  EXPECT_TRUE(IdempotencyKeyValid("a"));
  EXPECT_TRUE(IdempotencyKeyValid(std::string(128, '~')));
  EXPECT_FALSE(IdempotencyKeyValid(""));
  EXPECT_FALSE(IdempotencyKeyValid(std::string(129, 'a')));
  EXPECT_FALSE(IdempotencyKeyValid("a b"));
  EXPECT_FALSE(IdempotencyKeyValid("ключ"));
  EXPECT_TRUE(BearerMatches("Bearer s3cret", "s3cret"));
  for (const char* wrong : {"", "Bearer", "Bearer s3cre", "Bearer s3cret!", "bearer s3cret",
                            "Basic s3cret", "Bearer S3cret"})
    EXPECT_FALSE(BearerMatches(wrong, "s3cret")) << wrong;
}

}  // namespace
}  // namespace zelmo::service
