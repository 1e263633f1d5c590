// The golden-picture machinery itself: the round trip through a PNG file, and the
// failures that a missing, differently sized or different golden must cause.
#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>
#include <png.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/test_support.h"

namespace {

namespace fs = std::filesystem;

constexpr int width = 7, height = 5;

// The test's golden name and picture. They live outside the fixture because the failure-catching
// macros only see globals.
std::string name;
std::vector<uint32_t> pixels;

// Every pixel distinct, so a flipped or shifted picture cannot compare equal.
std::vector<uint32_t> picture() {
    std::vector<uint32_t> p(width * height);
    for (size_t i = 0; i < p.size(); ++i) p[i] = uint32_t(i * 0x070503 + 0x102030) & 0xFFFFFF;
    return p;
}

uint32_t& at(int x, int y) {
    return pixels[(height - 1 - y) * width + x];
}

// The first pixel of a PNG file, top-left.
uint32_t png_top_left(const fs::path& path) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, path.c_str())) return 0xFFFFFFFF;
    image.format = PNG_FORMAT_RGB;
    std::vector<uint8_t> rgb(PNG_IMAGE_SIZE(image));
    if (!png_image_finish_read(&image, nullptr, rgb.data(), 0, nullptr)) {
        png_image_free(&image);
        return 0xFFFFFFFF;
    }
    return uint32_t(rgb[0]) << 16 | uint32_t(rgb[1]) << 8 | rgb[2];
}

// Each test works on a golden of its own name and removes what it made.
class Golden : public testing::Test {
  protected:
    void SetUp() override {
        unsetenv("QUILM_UPDATE_GOLDEN");
        name = std::string("selftest_") + testing::UnitTest::GetInstance()->current_test_info()->name();
        pixels = picture();
        golden = fs::path(QUILM_GOLDEN_DIR) / (name + ".png");
        actual = fs::path(QUILM_ACTUAL_DIR) / (name + ".actual.png");
    }
    void TearDown() override {
        unsetenv("QUILM_UPDATE_GOLDEN");
        std::error_code ignored;
        fs::remove(golden, ignored);
        fs::remove(actual, ignored);
    }
    void write_golden() {
        setenv("QUILM_UPDATE_GOLDEN", "1", 1);
        test::expect_golden(name, pixels.data(), width, height);
        unsetenv("QUILM_UPDATE_GOLDEN");
        ASSERT_TRUE(fs::exists(golden));
    }

    fs::path golden, actual;
};

// Catches: rows stored bottom-up, a picture that does not match its own golden, and a picture
// saved for inspection although it matched.
TEST_F(Golden, RoundTripMatchesAndStoresTheTopRowFirst) {
    write_golden();
    EXPECT_EQ(png_top_left(golden), at(0, 0));
    test::expect_golden(name, pixels.data(), width, height);
    EXPECT_FALSE(fs::exists(actual));
}

// Catches: a missing golden or one of another size taken as a match, a difference missed (also in
// the high byte), a wrong count or first position, what was drawn not saved, the golden overwritten.
TEST_F(Golden, EveryDifferenceFailsOnceAndSavesWhatWasDrawn) {
    EXPECT_NONFATAL_FAILURE(test::expect_golden(name, pixels.data(), width, height),
                            "run with QUILM_UPDATE_GOLDEN=1 to make it the golden");
    EXPECT_TRUE(fs::exists(actual));
    EXPECT_FALSE(fs::exists(golden));

    write_golden();
    EXPECT_NONFATAL_FAILURE(
        test::expect_golden(name, pixels.data(), height, width), // the same pixels as 5 x 7
        "the golden is 7x5, the picture 5x7");

    at(5, 4) ^= 0x000100;
    at(3, 1) |= 0x01000000; // a stray high byte is a difference too
    at(0, 0) = 0x123456;
    EXPECT_NONFATAL_FAILURE(test::expect_golden(name, pixels.data(), width, height),
                            "3 of 35 pixels differ; first at (0, 0)");
    EXPECT_EQ(png_top_left(actual), 0x123456u);
    EXPECT_EQ(png_top_left(golden), picture()[(height - 1) * width]); // the golden itself is kept
}

} // namespace
