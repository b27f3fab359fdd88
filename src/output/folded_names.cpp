#include "output/folded_names.h"

#include <algorithm>
#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string_view>
#include <utility>
#include <vector>

namespace sorvane {
namespace {

// Longer trailing numbers are not read as numbers: they would not fit.
constexpr std::size_t LONGEST_NUMBER = 18;

struct NumberedName {
  std::string prefix;
  std::string digits;  // as written
};

std::optional<NumberedName> split_number(std::string_view name) {
  const std::size_t end_of_prefix = name.find_last_not_of("0123456789") + 1;  // npos + 1 is 0
  const std::string_view digits = name.substr(end_of_prefix);
  if (digits.empty() || digits.size() > LONGEST_NUMBER) return std::nullopt;
  return NumberedName{std::string(name.substr(0, end_of_prefix)), std::string(digits)};
}

bool zero_padded(std::string_view digits) { return digits.size() > 1 && digits.front() == '0'; }

// A fold: names with one prefix whose numbers share a width (0: written
// without padding).
using FoldKey = std::pair<std::string, std::size_t>;

std::string padded(std::uint64_t number, std::size_t width) {
  std::string digits = std::to_string(number);
  if (digits.size() < width) digits.insert(0, width - digits.size(), '0');
  return digits;
}

// "[01-03,07]" for 1, 2, 3, 7 at width 2.
std::string ranges(const std::set<std::uint64_t>& numbers, std::size_t width) {
  std::string text = "[";
  for (auto run = numbers.begin(); run != numbers.end();) {
    auto last = run;
    while (std::next(last) != numbers.end() && *std::next(last) == *last + 1) ++last;
    if (run != numbers.begin()) text += ',';
    text += padded(*run, width);
    if (last != run) text += '-' + padded(*last, width);
    run = std::next(last);
  }
  return text + "]";
}

// What the list itself is written with: a label holding any of it is
// quoted, and never folded, so that the list reads back one way.
constexpr std::string_view LIST_SYNTAX = ",[]\"";

bool needs_quotes(std::string_view label) {
  return label.find_first_of(LIST_SYNTAX) != std::string_view::npos;
}

// `"a,b"`, with a quote within doubled as in CSV.
std::string listed(std::string_view label) {
  if (!needs_quotes(label)) return std::string(label);
  std::string text = "\"";
  for (char c : label) text.append(c == '"' ? "\"\"" : std::string(1, c));
  return text + "\"";
}

// A host's name and number, when it may fold with others.
std::optional<NumberedName> foldable(const HostLabel& host) {
  const bool by_name = host.name && host.label == *host.name;
  if (!by_name || needs_quotes(host.label)) return std::nullopt;
  return split_number(host.label);
}

}  // namespace

std::string fold_names(std::span<const HostLabel> hosts) {
  // The widths written with leading zeros under each prefix: an unpadded
  // number as wide as one of them (`10` beside `09`) joins that fold.
  std::map<std::string, std::set<std::size_t>> padded_widths;
  for (const HostLabel& host : hosts) {
    if (auto named = foldable(host); named && zero_padded(named->digits))
      padded_widths[named->prefix].insert(named->digits.size());
  }

  // Each item once, in the order of its first host: a label standing alone,
  // or a fold of numbers.
  struct Item {
    std::string alone;
    FoldKey key;
    std::set<std::uint64_t> numbers;
    std::string first_name;
  };
  std::vector<Item> items;
  std::map<FoldKey, std::size_t> fold_at;
  for (const HostLabel& host : hosts) {
    const auto named = foldable(host);
    if (!named) {
      items.push_back({host.label, {}, {}, {}});
      continue;
    }
    const std::size_t width = named->digits.size();
    const bool same_width_padded = padded_widths[named->prefix].contains(width);
    const FoldKey key{named->prefix, zero_padded(named->digits) || same_width_padded ? width : 0};
    const auto [at, added] = fold_at.try_emplace(key, items.size());
    if (added) items.push_back({{}, key, {}, host.label});
    items[at->second].numbers.insert(std::stoull(named->digits));
  }

  std::string text;
  for (const Item& item : items) {
    if (!text.empty()) text += ',';
    if (item.numbers.empty()) {
      text += listed(item.alone);
    } else if (item.numbers.size() == 1) {
      text += item.first_name;
    } else {
      text += item.key.first + ranges(item.numbers, item.key.second);
    }
  }
  return text;
}

}  // namespace sorvane
