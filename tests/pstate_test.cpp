// Decoding and encoding of P-state definition registers, the boost offset and
// the layout decision.
#include <gtest/gtest.h>

#include "app/pstate.h"

using app::decode_row;
using app::encode_row;
using app::PstateRow;

namespace {

// Older layout word from its fields.
constexpr uint32_t older(uint32_t fid, uint32_t did, uint32_t vid, uint32_t nbvid) {
    return fid | did << 6 | vid << 9 | nbvid << 25;
}

struct DecodeCase {
    const char* name;
    uint8_t ex_family;
    uint32_t low, high;
    PstateRow row;
};

TEST(PstateDecode, FieldsOfBothLayouts) {
    const DecodeCase cases[] = {
        {"fid16 vid30 nbvid29", 0x10, older(16, 0, 30, 29), 0x80000000, {1, 32, 94, 95}},
        {"fid0 did1 is 8", 0x10, older(0, 1, 0, 0), 0, {0, 8, 124, 124}},
        {"fid0 did2 raised to 8", 0x10, older(0, 2, 55, 55), 0, {0, 8, 69, 69}},
        {"odd fid with did1 truncates", 0x10, older(1, 1, 0, 0), 0, {0, 8, 124, 124}},
        {"vid beyond 124 wraps", 0x10, older(0, 0, 127, 0), 0, {0, 16, 253, 124}},
        {"f15 vid 0x48 ignores bit 9", 0x15, 0x48u << 9, 0x80000000, {1, 16, 88, 0}},
        {"f15 odd vid 0x49 same", 0x15, 0x49u << 9, 0, {0, 16, 88, 0}},
        {"f15 nb pstate bit", 0x15, 1u << 22 | 14, 0, {0, 30, 124, 1}},
        {"family 20 is older", 0x14, older(14, 0, 10, 30), 0, {0, 30, 114, 94}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        PstateRow r = decode_row(c.low, c.high, c.ex_family);
        EXPECT_EQ(r.state, c.row.state);
        EXPECT_EQ(r.multi, c.row.multi);
        EXPECT_EQ(r.vcore, c.row.vcore);
        EXPECT_EQ(r.nb, c.row.nb);
    }
}

struct EncodeCase {
    const char* name;
    uint8_t ex_family;
    PstateRow row;
    uint32_t low_before, high_before;
    uint32_t low, high;
};

TEST(PstateEncode, FieldsOfBothLayouts) {
    const EncodeCase cases[] = {
        {"multi 15: did1 fid14", 0x10, {0, 15, 124, 124}, 0, 0, 14 | 1 << 6, 0},
        {"multi 16: did0 fid0", 0x10, {0, 16, 124, 124}, 0, 0, 0, 0},
        {"multi 63: fid47", 0x10, {0, 63, 124, 124}, 0, 0, 47, 0},
        {"multi 8: did1 fid0", 0x10, {0, 8, 124, 124}, 0, 0, 1 << 6, 0},
        {"vcore 69 is vid 55", 0x10, {0, 16, 69, 124}, 0, 0, 55 << 9, 0},
        {"nb 95 is nbvid 29", 0x10, {0, 16, 124, 95}, 0, 0, 29u << 25, 0},
        {"older keeps bits 24..16", 0x10, {0, 16, 124, 124}, 0xFFFFFFFF, 0, 0x01FF0000, 0},
        {"f15 vcore 88 is 36 in 16..10", 0x15, {0, 16, 88, 0}, 0, 0, 36 << 10, 0},
        {"f15 nb 1 sets bit 22", 0x15, {0, 16, 124, 1}, 0, 0, 1 << 22, 0},
        {"f15 keeps 31..23 and 21..17", 0x15, {0, 16, 124, 0}, 0xFFFFFFFF, 0, 0xFFBE0000, 0},
        {"f15 nb byte beyond bit 0 stays out", 0x15, {0, 16, 124, 0xFE}, 0, 0, 0, 0},
        {"enable sets bit 63 only", 0x10, {1, 16, 124, 124}, 0, 0x1234, 0, 0x80001234},
        {"current mark never reaches the register", 0x10, {2, 16, 124, 124}, 0, 0x80000000, 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        uint32_t low = c.low_before, high = c.high_before;
        encode_row(c.row, low, high, c.ex_family);
        EXPECT_EQ(low, c.low);
        EXPECT_EQ(high, c.high);
    }
}

TEST(PstateEncode, EveryShownValueRoundTrips) {
    for (uint8_t family : {uint8_t{0x10}, uint8_t{0x15}}) {
        for (uint8_t multi = 8; multi <= 63; ++multi) {
            for (uint8_t vcore = 69; vcore <= 124; ++vcore) {
                PstateRow row{1, multi, vcore, uint8_t(family == 0x10 ? vcore : vcore & 1)};
                uint32_t low = 0x00AA0000, high = 0x00000077;
                encode_row(row, low, high, family);
                PstateRow back = decode_row(low, high, family);
                ASSERT_EQ(back.multi, multi);
                ASSERT_EQ(back.vcore, vcore);
                ASSERT_EQ(back.nb, row.nb);
                ASSERT_EQ(back.state, 1);
            }
        }
    }
}

TEST(PstateLayout, OnlyKnownLayoutsMayBeWritten) {
    struct {
        uint8_t family, model;
        app::Layout layout;
    } cases[] = {
        {0x10, 0x04, app::Layout::older},     {0x11, 0x03, app::Layout::unknown},
        {0x12, 0x01, app::Layout::unknown},   {0x14, 0x02, app::Layout::unknown},
        {0x15, 0x01, app::Layout::unknown},   {0x15, 0x0F, app::Layout::unknown},
        {0x15, 0x10, app::Layout::family15h}, {0x15, 0x70, app::Layout::family15h},
        {0x16, 0x00, app::Layout::family15h}, {0x17, 0x01, app::Layout::unknown},
        {0x19, 0x21, app::Layout::unknown},   {0x0F, 0x04, app::Layout::unknown},
        {0x06, 0x3A, app::Layout::unknown},
    };
    for (const auto& c : cases)
        EXPECT_EQ(app::register_layout(c.family, c.model), c.layout) << int(c.family) << "/" << int(c.model);
    EXPECT_FALSE(app::uses_family15h_fields(20));
    EXPECT_TRUE(app::uses_family15h_fields(21));
}

TEST(PstateDecode, CurrentRowFromStatusAndBoostOffset) {
    struct {
        uint32_t status, offset;
        int marked; // row with bit 1 set, -1 none
    } cases[] = {{0, 2, 2}, {0, 0, 0}, {3, 0, 3}, {7, 1, -1}, {5, 3, -1}};
    for (const auto& c : cases) {
        app::reset_pstate();
        app::pstate.status_low = c.status;
        app::pstate.pstate_offset = static_cast<uint8_t>(c.offset);
        app::decode_pstates(0x10);
        EXPECT_EQ(app::pstate.current_index, c.status + c.offset);
        for (int i = 0; i < 8; ++i)
            EXPECT_EQ((app::pstate.table.rows[i].state >> 1) & 1, i == c.marked ? 1 : 0) << i;
    }
}

} // namespace
