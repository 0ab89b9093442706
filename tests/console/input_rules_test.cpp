// The shape of the input rules table (what the rules do is in rules_test.cpp).
#include <gtest/gtest.h>

#include <set>

#include "console/input_rules.h"

namespace varnel::test {
namespace {

// A second row for a value would never be read (the first one wins), so each value that acts at
// all, 1 to 15, has exactly one row.
TEST(InputRules, EachActingValueHasExactlyOneRow) {
    std::multiset<int> values;
    for (const InputRule& rule : kInputRules) values.insert(rule.value);
    for (int value = 1; value <= 15; ++value) EXPECT_EQ(values.count(value), 1u) << value;
    EXPECT_EQ(values.size(), 15u);
}

}  // namespace
}  // namespace varnel::test
