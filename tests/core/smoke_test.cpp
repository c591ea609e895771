#include <gtest/gtest.h>
#include "state/AppError.h"
TEST(ErrorBox, AppendsFullStop) { EXPECT_EQ(ErrorBoxText("abc"), "abc."); }
