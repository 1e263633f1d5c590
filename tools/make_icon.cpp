// Draws quilm's icon with the toolkit's own primitives, palette and font (a raised
// panel, a large Q and three sliders, as in a row of the P-state table) and writes it
// as hicolor PNGs. 48 and 64 pixels are drawn; larger sizes are one of them with every
// pixel repeated, so the icon keeps the program's sharp pixels at every size.
//
// Usage: make_icon OUTDIR SIZE...   writes OUTDIR/NxN/quilm.png for each SIZE
#include <png.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "toolkit/draw.h"
#include "toolkit/font.h"
#include "toolkit/window.h"

namespace {

// clang-format off
constexpr uint32_t black      = 0;
constexpr uint32_t dark_grey  = 1;
constexpr uint32_t light_grey = 3;
constexpr uint32_t white      = 4;
constexpr uint32_t green      = 5;
constexpr uint32_t navy       = 15;
// clang-format on

// A picture top row first, 0x00RRGGBB, with a transparency mask.
struct Picture {
    int size = 0;
    std::vector<uint32_t> rgb;
    std::vector<uint8_t> opaque;
};

// The toolkit draws into its window's framebuffer; the icon lends it a square one.
struct Canvas {
    std::vector<uint32_t> pixels;
    explicit Canvas(int size) : pixels(size_t(size) * size) {
        tk::window.fb = {pixels.data(), uint16_t(size), uint16_t(size)};
    }
    ~Canvas() { tk::window.fb = {}; }
};

// The glyph of code with every font pixel drawn as a zoom x zoom block.
void draw_big_glyph(uint32_t code, uint32_t colour, int x, int y, int zoom) {
    const uint8_t* rows = &tk::font[size_t(code - 1) * tk::glyph_rows];
    for (int row = 0; row < tk::glyph_rows; ++row)
        for (int column = 0; column < 8; ++column)
            if (rows[row] & (0x80 >> column))
                tk::fill_rect(x + column * zoom, y + row * zoom, zoom, zoom, colour);
}

// A slider: a groove with a light lower edge, green up to the knob as the window's values are,
// and a raised knob.
void draw_slider(int x, int y, int width, int knob_at, int knob_width, int knob_height) {
    tk::draw_line(x, y, x + width - 1, tk::LINE_H, dark_grey);
    tk::draw_line(x, y, x + knob_at - 1, tk::LINE_H, green);
    tk::draw_line(x, y + 1, x + width - 1, tk::LINE_H, white);
    const int top = y - knob_height / 2;
    tk::fill_rect(x + knob_at, top, knob_width, knob_height, light_grey);
    tk::draw_frame(x + knob_at, top, knob_width, knob_height, tk::FRAME_RAISED);
}

// The icon drawn at its own size: 48 (the Q doubled) or 64 (the Q tripled).
Picture draw_icon(int size) {
    Canvas canvas(size);
    const auto at = [size](int v) { return v * size / 48; }; // positions laid out on a 48-pixel grid
    const int margin = at(3);
    const int panel = size - 2 * margin;
    tk::fill_rect(margin, margin, panel, panel, light_grey);
    tk::draw_frame(margin, margin, panel, panel, tk::FRAME_RAISED);
    // A title bar, as the program's window has.
    tk::fill_rect(margin + 2, margin + 2, panel - 4, at(5), navy);

    const int zoom = size >= 64 ? 3 : 2;
    const int glyph_height = tk::glyph_rows * zoom;
    const int q_x = margin + at(3);
    const int q_y = margin + at(5) + (panel - at(5) - glyph_height) / 2;
    draw_big_glyph('Q', black, q_x, q_y, zoom);

    // Three sliders beside the Q, their knobs at different places like the table's rows.
    const int slider_x = q_x + 8 * zoom + at(3);
    const int slider_width = margin + panel - at(4) - slider_x;
    const int knob_width = at(6);
    const int knob_height = at(7);
    const int first = q_y + at(4);
    const int step = (glyph_height - at(8)) / 2;
    const int knobs[] = {slider_width - knob_width, slider_width / 3, slider_width / 2};
    for (int i = 0; i < 3; ++i)
        draw_slider(slider_x, first + i * step, slider_width, knobs[i], knob_width, knob_height);

    Picture picture{size, std::vector<uint32_t>(size_t(size) * size),
                    std::vector<uint8_t>(size_t(size) * size)};
    for (int y = 0; y < size; ++y)
        for (int x = 0; x < size; ++x) {
            const size_t to = size_t(y) * size + x;
            picture.rgb[to] = canvas.pixels[size_t(size - 1 - y) * size + x]; // the framebuffer is bottom-up
            const bool inside = x >= margin && y >= margin && x < margin + panel && y < margin + panel;
            const bool corner =
                (x == margin || x == margin + panel - 1) && (y == margin || y == margin + panel - 1);
            picture.opaque[to] = inside && !corner;
        }
    return picture;
}

// The picture with every pixel repeated factor times in both directions.
Picture enlarged(const Picture& small, int factor) {
    Picture big{small.size * factor, {}, {}};
    big.rgb.resize(size_t(big.size) * big.size);
    big.opaque.resize(big.rgb.size());
    for (int y = 0; y < big.size; ++y)
        for (int x = 0; x < big.size; ++x) {
            const size_t from = size_t(y / factor) * small.size + x / factor;
            big.rgb[size_t(y) * big.size + x] = small.rgb[from];
            big.opaque[size_t(y) * big.size + x] = small.opaque[from];
        }
    return big;
}

bool write_png(const Picture& picture, const std::filesystem::path& path) {
    std::vector<uint8_t> rgba(picture.rgb.size() * 4);
    for (size_t i = 0; i < picture.rgb.size(); ++i) {
        rgba[i * 4 + 0] = uint8_t(picture.rgb[i] >> 16);
        rgba[i * 4 + 1] = uint8_t(picture.rgb[i] >> 8);
        rgba[i * 4 + 2] = uint8_t(picture.rgb[i]);
        rgba[i * 4 + 3] = picture.opaque[i] ? 255 : 0;
    }
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    image.width = png_uint_32(picture.size);
    image.height = png_uint_32(picture.size);
    image.format = PNG_FORMAT_RGBA;
    if (!png_image_write_to_file(&image, path.c_str(), 0, rgba.data(), 0, nullptr)) {
        std::fprintf(stderr, "make_icon: %s: %s\n", path.c_str(), image.message);
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: make_icon OUTDIR SIZE...\n");
        return 2;
    }
    const Picture drawn[] = {draw_icon(48), draw_icon(64)};
    for (int i = 2; i < argc; ++i) {
        const int size = std::atoi(argv[i]);
        const Picture* base = nullptr;
        for (const Picture& p : drawn)
            if (size >= p.size && size % p.size == 0) base = &p; // the larger drawing where both fit
        if (!base) {
            std::fprintf(stderr, "make_icon: %s: a size must be a multiple of 48 or 64\n", argv[i]);
            return 2;
        }
        const std::string name = std::to_string(size) + "x" + std::to_string(size);
        const std::filesystem::path dir = std::filesystem::path(argv[1]) / name;
        std::error_code error;
        std::filesystem::create_directories(dir, error);
        if (error) {
            std::fprintf(stderr, "make_icon: %s: %s\n", dir.c_str(), error.message().c_str());
            return 1;
        }
        if (!write_png(enlarged(*base, size / base->size), dir / "quilm.png")) return 1;
    }
    return 0;
}
