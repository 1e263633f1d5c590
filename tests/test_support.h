// Helpers shared by the tests: a framebuffer of the tests' own installed into
// the toolkit, pixel access by screen position, and golden pictures.
#pragma once
#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "toolkit/window.h"

namespace test {

// Installs a width x height framebuffer filled with one value into the toolkit for the
// lifetime of the object, and restores the previous one afterwards.
class Canvas {
  public:
    Canvas(uint16_t width, uint16_t height, uint32_t fill = 0x00ABCDEF)
        : saved_(tk::window.fb), pixels_(size_t(width) * height, fill) {
        tk::window.fb = {pixels_.data(), width, height};
    }
    ~Canvas() { tk::window.fb = saved_; }
    Canvas(const Canvas&) = delete;
    Canvas& operator=(const Canvas&) = delete;

    // Pixel at screen position (x, y), y counted from the top.
    uint32_t at(int x, int y) const {
        return pixels_[size_t(tk::window.fb.height - 1 - y) * tk::window.fb.width + x];
    }
    const std::vector<uint32_t>& pixels() const { return pixels_; }
    // Number of pixels that no longer hold the fill value.
    size_t changed(uint32_t fill = 0x00ABCDEF) const {
        return pixels_.size() - size_t(std::count(pixels_.begin(), pixels_.end(), fill));
    }

  private:
    tk::Framebuffer saved_;
    std::vector<uint32_t> pixels_;
};

// Compares a bottom-up framebuffer with tests/golden/<name>.png exactly. A mismatch fails
// the test and writes <build>/tests/<name>.actual.png; QUILM_UPDATE_GOLDEN=1 rewrites the golden.
void expect_golden(const std::string& name, const uint32_t* pixels, int width, int height);

} // namespace test
