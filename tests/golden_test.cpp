// The golden-picture machinery itself: the round trip through a PNG file, and the
// failures that a missing, differently sized or different golden must cause.
#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <vector>

#include "tests/test_support.h"

namespace {

namespace fs = std::filesystem;

// The picture, every pixel distinct so that a flipped or shifted one cannot compare equal. It is
// global because the failure-catching macros only see globals.
constexpr int width = 7, height = 5;
std::vector<uint32_t> pixels;
void expect() {
    test::expect_golden("selftest", pixels.data(), width, height);
}

// Catches: a missing golden or one of another size taken as a match, what was drawn not saved (or saved
// although it matched, or an earlier one kept), a picture that does not match its own golden, rows
// flipped on the way out or in (the pictures of the other tests are stored top row first), a difference
// missed (also in the high byte), a wrong count or first position, and the golden overwritten.
TEST(Golden, RoundTripAndEveryDifference) {
    const fs::path golden = fs::path(QUILM_GOLDEN_DIR) / "selftest.png";
    const fs::path actual = fs::path(QUILM_ACTUAL_DIR) / "selftest.actual.png";
    const fs::path drawn = fs::path(QUILM_GOLDEN_DIR) / "selftest_drawn.png";
    const auto clean = [&] {
        unsetenv("QUILM_UPDATE_GOLDEN"), pixels.clear();
        std::error_code ignored;
        fs::remove(golden, ignored), fs::remove(actual, ignored), fs::remove(drawn, ignored);
    };
    clean();
    for (uint32_t i = 0; i < width * height; ++i) pixels.push_back((i * 0x070503 + 0x102030) & 0xFFFFFF);
    const std::vector<uint32_t> original = pixels;

    EXPECT_NONFATAL_FAILURE(expect(), "run with QUILM_UPDATE_GOLDEN=1 to make it the golden");
    EXPECT_TRUE(fs::exists(actual) && !fs::exists(golden));
    setenv("QUILM_UPDATE_GOLDEN", "1", 1);
    expect();
    unsetenv("QUILM_UPDATE_GOLDEN");
    expect();
    EXPECT_FALSE(fs::exists(actual));

    EXPECT_NONFATAL_FAILURE(test::expect_golden("selftest", pixels.data(), height, width), // 5 x 7
                            "the golden is 7x5, the picture 5x7");
    pixels[(height - 1 - 4) * width + 5] ^= 0x000100;
    pixels[(height - 1 - 1) * width + 3] |= 0x01000000; // a stray high byte is a difference too
    pixels[(height - 1) * width] = 0x123456;            // the top-left pixel
    EXPECT_NONFATAL_FAILURE(expect(), "3 of 35 pixels differ; first at (0, 0)");
    // What was drawn was saved, and the golden kept: each is the golden of its own picture.
    fs::copy_file(actual, drawn, fs::copy_options::overwrite_existing);
    pixels[(height - 1 - 1) * width + 3] &= 0xFFFFFF;
    test::expect_golden("selftest_drawn", pixels.data(), width, height);
    test::expect_golden("selftest", original.data(), width, height);
    clean();
}

} // namespace
