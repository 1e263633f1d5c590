#include <gtest/gtest.h>

#include "toolkit/widgets.h"

TEST(Skeleton, EmptyTableHasNoValidIds) {
    tk::reset_widgets();
    EXPECT_FALSE(tk::valid_id(-1));
    EXPECT_FALSE(tk::valid_id(0));
}
