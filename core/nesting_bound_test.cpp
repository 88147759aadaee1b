#include "core/nesting_bound.h"

#include <gtest/gtest.h>

#include "core/base_object.h"

namespace {

// Descends until the bound stops it; returns the deepest level reached.
int Descend(int& counter) {
    CNestingLevel level(counter);
    if (level.TooDeep()) return level.Depth();
    return Descend(counter);
}

TEST(NestingBoundTest, LevelsCountTheDescentAndTheBoundStopsItAt513) {
    int counter = 0;
    EXPECT_EQ(kMaxNestingDepth + 1, Descend(counter));
    EXPECT_EQ(0, counter);  // every level gave its count back

    CBaseObject top, middle, deepest, unknown;
    CTreeDepths tree(&top);
    EXPECT_EQ(2, tree.ChildLevel(&top));
    EXPECT_TRUE(tree.Add(&middle, kMaxNestingDepth));
    EXPECT_EQ(kMaxNestingDepth + 1, tree.ChildLevel(&middle));
    EXPECT_FALSE(tree.Add(&deepest, tree.ChildLevel(&middle)));
    EXPECT_FALSE(tree.Knows(&deepest));
    EXPECT_GT(tree.ChildLevel(&unknown), kMaxNestingDepth);
}

TEST(NestingBoundTest, RefusalRecordsAClearError) {
    CBaseObject object;
    EXPECT_EQ(0, RefuseNesting(object, L"CCompositeShare::LoadProperty()", L"section 600"));
    EXPECT_EQ(L"13", object.ErrorCode);
    EXPECT_EQ(13u, object.LastErrorCode);
    EXPECT_EQ(L"CCompositeShare::LoadProperty()", object.ErrorFunction);
    EXPECT_EQ(L"nested deeper than 512 levels at section 600", object.ErrorWin32API);
    EXPECT_EQ(L"Objects are nested deeper than 512 levels.", object.ErrorDescription);
}

}  // namespace
