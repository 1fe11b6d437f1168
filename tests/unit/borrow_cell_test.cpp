// The borrow counter that the X11 backend's clipboard sits behind.
#include <gtest/gtest.h>

#include "borrow_cell.hpp"

namespace quillfen {
namespace {

TEST(BorrowCell, SharedBorrowsExcludeTheExclusiveOneAndBack) {
    BorrowCell<int> cell(7);
    {
        auto a = cell.try_borrow();
        auto b = cell.try_borrow();
        ASSERT_TRUE(a && b);
        EXPECT_EQ(**a, 7);
        EXPECT_FALSE(cell.try_borrow_mut());
    }
    {
        auto m = cell.try_borrow_mut();
        ASSERT_TRUE(m);
        **m = 8;
        EXPECT_FALSE(cell.try_borrow());
        EXPECT_FALSE(cell.try_borrow_mut());
    }
    auto again = cell.try_borrow_mut();
    ASSERT_TRUE(again);
    EXPECT_EQ(**again, 8);
}

} // namespace
} // namespace quillfen
