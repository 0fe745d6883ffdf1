#include "ExternalTool.h"

#include <gtest/gtest.h>

// The main of test programs that start helper processes: the same program runs either the tests
// or, when started as a helper, only the helper.
int main(int argc, char** argv)
{
    int code = 0;
    if (zendral::test::RunHelperIfAsked(argc, argv, code)) {
        return code;
    }
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
