#include "output/pretty_json.h"

#include <gtest/gtest.h>

#include "protocol/request.h"

namespace sorvane {
namespace {

// Members written with keys given as text, the reference layout.
std::string members_by_name(std::size_t depth) {
  PrettyJsonWriter json;
  for (std::size_t i = 1; i < depth; ++i) json.begin_array();
  json.begin_object();
  json.key("id");
  json.string("a");
  json.key("say \"hi\"");
  json.number(7);
  json.end_object();
  for (std::size_t i = 1; i < depth; ++i) json.end_array();
  return json.take();
}

TEST(PrettyJson, RenderedKeysWriteLikeKeysGivenAsText) {
  // Rendered for depth 2, used at its own depth and elsewhere, first
  // member (no comma) and later ones, a key that needs escaping.
  const JsonKey id("id", 2);
  const JsonKey quoted("say \"hi\"", 2);
  for (std::size_t depth : {1, 2, 3, 20}) {
    PrettyJsonWriter json;
    for (std::size_t i = 1; i < depth; ++i) json.begin_array();
    json.begin_object();
    json.key(id);
    json.string("a");
    json.key(quoted);
    json.number(7);
    json.end_object();
    for (std::size_t i = 1; i < depth; ++i) json.end_array();
    EXPECT_EQ(json.take(), members_by_name(depth)) << "depth " << depth;
  }
}

TEST(PrettyJson, Layout) {
  PrettyJsonWriter json;
  json.begin_array();
  json.begin_object();
  json.key("n");
  json.null();
  json.key("list");
  json.begin_array();
  json.end_array();
  json.key("big");
  json.number(UINT64_MAX);
  json.end_object();
  json.string("tab\there");
  json.end_array();
  EXPECT_EQ(json.take(),
            "[\n"
            "  {\n"
            "    \"n\": null,\n"
            "    \"list\": [],\n"
            "    \"big\": 18446744073709551615\n"
            "  },\n"
            "  \"tab\\there\"\n"
            "]");
}

TEST(PrettyJson, DeepNestingIndentsEveryLevel) {
  // Deeper than the ready-made indent.
  constexpr std::size_t DEPTH = 40;
  PrettyJsonWriter json;
  for (std::size_t i = 0; i < DEPTH; ++i) json.begin_array();
  json.number(1);
  for (std::size_t i = 0; i < DEPTH; ++i) json.end_array();
  std::string expected;
  for (std::size_t i = 0; i < DEPTH; ++i) expected.append(i * 2, ' ').append("[\n");
  expected.append(DEPTH * 2, ' ').append("1");
  for (std::size_t i = DEPTH; i-- > 0;) expected.append("\n").append(i * 2, ' ').append("]");
  EXPECT_EQ(json.take(), expected);
}

}  // namespace
}  // namespace sorvane
