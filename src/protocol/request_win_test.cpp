#include "protocol/request.h"

#include <gtest/gtest.h>

namespace sorvane {
namespace {

// A Windows file name may hold unpaired surrogates; those cannot be sent.
TEST(EncodeRequest, NonUnicodePathFails) {
  for (const Request& request : {Request{Request::Upload{"h", L"C:\\a\xD800.bin", "~"}},
                                 Request{Request::Download{"h", "~/a", L"C:\\b\xDC00"}}}) {
    auto encoded = encode_request(request);
    ASSERT_FALSE(encoded);
    EXPECT_EQ(encoded.error(), "path contains invalid UTF-8 characters");
  }
}

}  // namespace
}  // namespace sorvane
