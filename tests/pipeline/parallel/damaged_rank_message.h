#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "pipeline/parallel/rank_message.h"

namespace boardmill::pipeline {

// Every cut of a whole message, the message with a byte more and the message with a kind no
// message has: `decode` refuses each as damaged rather than reading zeros past the end.
template <typename Decode>
void ExpectRefusesDamage(const std::vector<std::uint8_t>& whole, Decode decode) {
  for (std::size_t cut = 0; cut < whole.size(); ++cut) {
    const auto decoded = decode(std::vector<std::uint8_t>(whole.begin(), whole.begin() + cut));
    ASSERT_FALSE(decoded) << "cut to " << cut << " of " << whole.size() << " bytes";
    EXPECT_EQ(decoded.error(), kDamagedRankMessage);
  }
  std::vector<std::uint8_t> longer = whole;
  longer.push_back(0);
  const auto decoded_longer = decode(longer);
  ASSERT_FALSE(decoded_longer) << "a byte more";
  EXPECT_EQ(decoded_longer.error(), kDamagedRankMessage);
  std::vector<std::uint8_t> other_kind = whole;
  other_kind[0] = 99;
  const auto decoded_other = decode(other_kind);
  ASSERT_FALSE(decoded_other) << "another kind";
  EXPECT_EQ(decoded_other.error(), kDamagedRankMessage);
}

}  // namespace boardmill::pipeline
