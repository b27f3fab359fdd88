#include "protocol/request.h"

#include <gtest/gtest.h>

namespace sorvane {
namespace {

// A POSIX file name may hold any bytes; those that are not UTF-8 cannot be sent.
TEST(EncodeRequest, NonUnicodePathFails) {
  for (const Request& request : {Request{Request::Upload{"h", "/tmp/\xff.bin", "~"}},
                                 Request{Request::Download{"h", "~/a", "/tmp/\xc3"}}}) {
    auto encoded = encode_request(request);
    ASSERT_FALSE(encoded);
    EXPECT_EQ(encoded.error(), "path contains invalid UTF-8 characters");
  }
}

}  // namespace
}  // namespace sorvane
