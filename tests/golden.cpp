// Golden pictures: a framebuffer compared pixel for pixel with a PNG kept beside the
// tests. PNGs hold RGB, 8 bits a channel, top row first; the framebuffer holds
// 0x00RRGGBB bottom-up, so rows are flipped on the way in and out.
#include <gtest/gtest.h>
#include <png.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>

#include "tests/test_support.h"

namespace test {

namespace {

namespace fs = std::filesystem;

struct Picture {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> rgb; // top row first, three bytes a pixel
};

Picture from_framebuffer(const uint32_t* pixels, int width, int height) {
    Picture picture{width, height, std::vector<uint8_t>(size_t(width) * height * 3)};
    uint8_t* out = picture.rgb.data();
    for (int y = 0; y < height; ++y) {
        const uint32_t* row = pixels + size_t(height - 1 - y) * width;
        for (int x = 0; x < width; ++x) {
            *out++ = uint8_t(row[x] >> 16);
            *out++ = uint8_t(row[x] >> 8);
            *out++ = uint8_t(row[x]);
        }
    }
    return picture;
}

// Empty string on success, otherwise what went wrong.
std::string read_png(const fs::path& path, Picture& picture) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, path.c_str())) return image.message;
    image.format = PNG_FORMAT_RGB;
    picture.width = int(image.width);
    picture.height = int(image.height);
    picture.rgb.assign(PNG_IMAGE_SIZE(image), 0);
    if (!png_image_finish_read(&image, nullptr, picture.rgb.data(), 0, nullptr)) {
        std::string error = image.message;
        png_image_free(&image);
        return error;
    }
    return {};
}

std::string write_png(const fs::path& path, const Picture& picture) {
    std::error_code ignored;
    fs::create_directories(path.parent_path(), ignored);
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    image.width = png_uint_32(picture.width);
    image.height = png_uint_32(picture.height);
    image.format = PNG_FORMAT_RGB;
    if (!png_image_write_to_file(&image, path.c_str(), 0, picture.rgb.data(), 0, nullptr))
        return image.message;
    return {};
}

uint32_t pixel_of(const Picture& picture, int x, int y) {
    const uint8_t* p = picture.rgb.data() + (size_t(y) * picture.width + x) * 3;
    return uint32_t(p[0]) << 16 | uint32_t(p[1]) << 8 | p[2];
}

std::string hex(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", value);
    return text;
}

// Saves what was drawn for a person to look at and says where it went.
std::string save_actual(const std::string& name, const Picture& actual) {
    const fs::path path = fs::path(QUILM_ACTUAL_DIR) / (name + ".actual.png");
    const std::string error = write_png(path, actual);
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
    const Picture actual = from_framebuffer(pixels, width, height);

    const char* update = std::getenv("QUILM_UPDATE_GOLDEN");
    if (update != nullptr && std::string(update) == "1") {
        const std::string error = write_png(golden_path, actual);
        if (!error.empty()) {
            ADD_FAILURE() << "golden " << name << ": could not write " << golden_path << ": " << error;
            return;
        }
        std::cout << "[ golden   ] wrote " << golden_path.string() << '\n';
        return;
    }

    Picture golden;
    if (const std::string error = read_png(golden_path, golden); !error.empty()) {
        ADD_FAILURE() << "golden " << name << ": cannot read " << golden_path.string() << " (" << error
                      << "); " << save_actual(name, actual)
                      << "; run with QUILM_UPDATE_GOLDEN=1 to make it the golden";
        return;
    }
    if (golden.width != width || golden.height != height) {
        ADD_FAILURE() << "golden " << name << ": the golden is " << golden.width << "x" << golden.height
                      << ", the picture " << width << "x" << height << "; " << save_actual(name, actual);
        return;
    }

    // Compare whole 32-bit pixels: the golden's high byte is 0, so a stray high byte counts too.
    size_t differing = 0;
    int first_x = 0, first_y = 0;
    for (int y = 0; y < height; ++y) {
        const uint32_t* row = pixels + size_t(height - 1 - y) * width;
        for (int x = 0; x < width; ++x) {
            if (row[x] == pixel_of(golden, x, y)) continue;
            if (differing++ == 0) first_x = x, first_y = y;
        }
    }
    const fs::path stale = fs::path(QUILM_ACTUAL_DIR) / (name + ".actual.png");
    if (differing == 0) {
        std::error_code ignored;
        fs::remove(stale, ignored); // left over from an earlier failing run
        return;
    }
    const uint32_t got = pixels[size_t(height - 1 - first_y) * width + first_x];
    ADD_FAILURE() << "golden " << name << ": " << differing << " of " << size_t(width) * height
                  << " pixels differ; first at (" << first_x << ", " << first_y << "): golden "
                  << hex(pixel_of(golden, first_x, first_y)) << ", drawn " << hex(got) << "; "
                  << save_actual(name, actual) << "; run with QUILM_UPDATE_GOLDEN=1 to accept it";
}

} // namespace test
