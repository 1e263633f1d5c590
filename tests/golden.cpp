// Golden pictures: a framebuffer compared pixel for pixel with a PNG kept beside the
// tests. PNGs hold RGB, 8 bits a channel, top row first; the framebuffer holds
// 0x00RRGGBB bottom-up. The PNG library is handed the rows bottom-up (a negative row
// stride) and each pixel's bytes in the x86 order, blue first.
#include <gtest/gtest.h>
#include <png.h>

#include <cstdlib>
#include <filesystem>
#include <iomanip>
#include <iostream>

#include "tests/test_support.h"

namespace test {

namespace {

namespace fs = std::filesystem;

// Writes the picture as an RGB PNG; empty string on success, otherwise what went wrong.
std::string write_png(const fs::path& path, const uint32_t* pixels, int width, int height) {
    std::vector<uint8_t> bgr; // the low three bytes of each pixel
    for (size_t i = 0; i < size_t(width) * height; ++i)
        bgr.insert(bgr.end(), {uint8_t(pixels[i]), uint8_t(pixels[i] >> 8), uint8_t(pixels[i] >> 16)});
    std::error_code ignored;
    fs::create_directories(path.parent_path(), ignored);
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    image.width = png_uint_32(width);
    image.height = png_uint_32(height);
    image.format = PNG_FORMAT_BGR;
    if (png_image_write_to_file(&image, path.c_str(), 0, bgr.data(), -3 * width, nullptr)) return {};
    return image.message;
}

// Reads a PNG laid out like a framebuffer, each pixel 0xFFRRGGBB; empty string on success.
std::string read_png(const fs::path& path, std::vector<uint32_t>& pixels, int& width, int& height) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, path.c_str())) return image.message;
    image.format = PNG_FORMAT_BGRA; // a picture without alpha reads as opaque
    width = int(image.width), height = int(image.height);
    pixels.assign(size_t(width) * height, 0);
    if (png_image_finish_read(&image, nullptr, pixels.data(), -4 * width, nullptr)) return {};
    const std::string error = image.message;
    png_image_free(&image);
    return error;
}

// Saves what was drawn for a person to look at and says where it went.
std::string save_actual(const std::string& name, const uint32_t* pixels, int width, int height) {
    const fs::path path = fs::path(QUILM_ACTUAL_DIR) / (name + ".actual.png");
    const std::string error = write_png(path, pixels, width, height);
    return error.empty() ? "what was drawn is in " + path.string()
                         : "could not write " + path.string() + ": " + error;
}

} // namespace

void expect_golden(const std::string& name, const uint32_t* pixels, int width, int height) {
    if (name.empty() || name.front() == '.' || name.find_first_of("/\\") != std::string::npos) {
        ADD_FAILURE() << "golden \"" << name << "\": a golden name is a plain file name";
        return;
    }
    if (pixels == nullptr || width <= 0 || height <= 0) {
        ADD_FAILURE() << "golden " << name << ": no picture (" << width << "x" << height << ")";
        return;
    }
    const fs::path golden_path = fs::path(QUILM_GOLDEN_DIR) / (name + ".png");
    const char* update = std::getenv("QUILM_UPDATE_GOLDEN");
    if (update != nullptr && std::string(update) == "1") {
        if (const std::string error = write_png(golden_path, pixels, width, height); !error.empty())
            ADD_FAILURE() << "golden " << name << ": could not write " << golden_path << ": " << error;
        else
            std::cout << "[ golden   ] wrote " << golden_path.string() << '\n';
        return;
    }

    std::vector<uint32_t> golden;
    int golden_width = 0, golden_height = 0;
    if (const std::string error = read_png(golden_path, golden, golden_width, golden_height);
        !error.empty()) {
        ADD_FAILURE() << "golden " << name << ": cannot read " << golden_path.string() << " (" << error
                      << "); " << save_actual(name, pixels, width, height)
                      << "; run with QUILM_UPDATE_GOLDEN=1 to make it the golden";
        return;
    }
    if (golden_width != width || golden_height != height) {
        ADD_FAILURE() << "golden " << name << ": the golden is " << golden_width << "x" << golden_height
                      << ", the picture " << width << "x" << height << "; "
                      << save_actual(name, pixels, width, height);
        return;
    }

    // Compare whole 32-bit pixels with the golden's colour bytes, so a stray high byte counts too;
    // row by row from the top, so that the first difference is the top-left one.
    size_t differing = 0, first = 0;
    for (int i = 0; i < width * height; ++i) {
        const size_t at = size_t(height - 1 - i / width) * width + i % width;
        if (pixels[at] != (golden[at] & 0x00FFFFFF) && differing++ == 0) first = size_t(i);
    }
    if (differing == 0) {
        std::error_code ignored; // what an earlier failing run saved is stale now
        fs::remove(fs::path(QUILM_ACTUAL_DIR) / (name + ".actual.png"), ignored);
        return;
    }
    const int x = int(first % width), y = int(first / width);
    const size_t at = size_t(height - 1 - y) * width + x;
    ADD_FAILURE() << "golden " << name << ": " << differing << " of " << size_t(width) * height
                  << " pixels differ; first at (" << x << ", " << y << "): golden 0x" << std::hex
                  << std::uppercase << std::setfill('0') << std::setw(8) << (golden[at] & 0x00FFFFFF)
                  << ", drawn 0x" << std::setw(8) << pixels[at] << "; "
                  << save_actual(name, pixels, width, height)
                  << "; run with QUILM_UPDATE_GOLDEN=1 to accept it";
}

} // namespace test
