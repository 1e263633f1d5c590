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

// Every pixel distinct, so a flipped or shifted picture cannot compare equal.
std::vector<uint32_t> picture() {
    std::vector<uint32_t> pixels(width * height);
    for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = uint32_t(i * 0x070503 + 0x102030) & 0xFFFFFF;
    return pixels;
}

uint32_t& at(std::vector<uint32_t>& pixels, int x, int y) {
    return pixels[(height - 1 - y) * width + x];
}

// Failure messages of one call to expect_golden, kept from failing this test.
std::vector<std::string> failures(const std::string& name, const std::vector<uint32_t>& pixels,
                                  int w = width) {
    testing::TestPartResultArray results;
    {
        testing::ScopedFakeTestPartResultReporter reporter(
            testing::ScopedFakeTestPartResultReporter::INTERCEPT_ONLY_CURRENT_THREAD, &results);
        test::expect_golden(name, pixels.data(), w, int(pixels.size()) / w);
    }
    std::vector<std::string> messages;
    for (int i = 0; i < results.size(); ++i) messages.push_back(results.GetTestPartResult(i).message());
    return messages;
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
        name = std::string("selftest_") + testing::UnitTest::GetInstance()->current_test_info()->name();
        golden = golden_dir / (name + ".png");
        actual = fs::path(QUILM_ACTUAL_DIR) / (name + ".actual.png");
        made_dir = !fs::exists(golden_dir);
        unsetenv("QUILM_UPDATE_GOLDEN");
    }
    void TearDown() override {
        unsetenv("QUILM_UPDATE_GOLDEN");
        std::error_code ignored;
        fs::remove(golden, ignored);
        fs::remove(actual, ignored);
        if (made_dir) fs::remove(golden_dir, ignored); // only if it is empty again
    }
    void write_golden(const std::vector<uint32_t>& pixels) {
        setenv("QUILM_UPDATE_GOLDEN", "1", 1);
        EXPECT_TRUE(failures(name, pixels).empty());
        unsetenv("QUILM_UPDATE_GOLDEN");
        ASSERT_TRUE(fs::exists(golden));
    }

    const fs::path golden_dir = QUILM_GOLDEN_DIR;
    std::string name;
    fs::path golden, actual;
    bool made_dir = false;
};

TEST_F(Golden, RoundTripMatchesAndStoresTheTopRowFirst) {
    std::vector<uint32_t> pixels = picture();
    write_golden(pixels);
    EXPECT_EQ(png_top_left(golden), at(pixels, 0, 0));
    EXPECT_TRUE(failures(name, pixels).empty());
    EXPECT_FALSE(fs::exists(actual));
}

TEST_F(Golden, MismatchNamesFirstPixelAndCountAndSavesActual) {
    std::vector<uint32_t> pixels = picture();
    write_golden(pixels);
    at(pixels, 5, 4) ^= 0x000100;
    at(pixels, 3, 1) |= 0x01000000; // a stray high byte is a difference too
    at(pixels, 0, 0) = 0x123456;
    const std::vector<std::string> messages = failures(name, pixels);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_NE(messages[0].find("3 of 35 pixels differ; first at (0, 0)"), std::string::npos) << messages[0];
    EXPECT_EQ(png_top_left(actual), 0x123456u);
    EXPECT_EQ(png_top_left(golden), picture()[(height - 1) * width]); // the golden itself is kept
}

TEST_F(Golden, MissingOrDifferentSizeFails) {
    std::vector<uint32_t> pixels = picture();
    std::vector<std::string> messages = failures(name, pixels);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_NE(messages[0].find("QUILM_UPDATE_GOLDEN=1"), std::string::npos) << messages[0];
    EXPECT_TRUE(fs::exists(actual));
    EXPECT_FALSE(fs::exists(golden));

    write_golden(pixels);
    messages = failures(name, pixels, height); // the same pixels as 5 x 7
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_NE(messages[0].find("the golden is 7x5, the picture 5x7"), std::string::npos) << messages[0];
}

} // namespace
