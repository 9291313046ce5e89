// The scanner against the reference model on random inputs.

#include <gtest/gtest.h>

#include "convert_helper.h"
#include "random_input.h"
#include "reference_scanner.h"

namespace {

TEST(differential_test, scanner_equals_reference_on_random_inputs)
{
    std::mt19937_64 rng(20261208);
    for (int round = 0; round < 4000; ++round) {
        std::string input = random_input(rng, 60);
        bool break_tags = round % 2 == 1;
        std::size_t read_size = 1 + rng() % 17;
        std::string expected = reference_convert(input, break_tags);
        ASSERT_EQ(scanner_convert(input, break_tags, read_size), expected)
            << "round " << round << ", read size " << read_size;
        ASSERT_EQ(scanner_convert(input, break_tags), expected) << "round " << round;
    }
}

} // namespace
