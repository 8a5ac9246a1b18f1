#include "board/path.h"

#include <gtest/gtest.h>

namespace {

struct RootGuard {
    std::string saved = board::root();
    ~RootGuard() { board::setRoot(saved); }
};

TEST(BoardPath, RealPathsWithoutRoot)
{
    RootGuard g;
    board::setRoot("");
    EXPECT_EQ(board::path("/dev/misc/gw-wd"), "/dev/misc/gw-wd");
}

TEST(BoardPath, RootIsPutInFrontOfAbsolutePathsOnly)
{
    RootGuard g;
    board::setRoot("/tmp/gw/");
    EXPECT_EQ(board::root(), "/tmp/gw");
    EXPECT_EQ(board::path("/usr/local/etc/server.conf"), "/tmp/gw/usr/local/etc/server.conf");
    EXPECT_EQ(board::path(std::string("/dev/hal")), "/tmp/gw/dev/hal");
    EXPECT_EQ(board::path("relative/file"), "relative/file");
}

}  // namespace
