#include "board/sim/simulation.h"

#include "board/hal.h"
#include "tests/temp_root.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>

namespace {

TEST(Simulation, InstallsEveryModelAndServesTheBoardSocket)
{
    testsupport::TempRoot root({"/var/run"});
    board::Board* before = &board::board();
    {
        board::sim::Simulation sim;
        EXPECT_EQ(&board::board(), &sim.board());
        int fd = board::board().open(hal::kPath, O_RDWR | O_CLOEXEC);
        EXPECT_GE(fd, 0);
        ::close(fd);
        ASSERT_TRUE(sim.serve());
        struct stat st;
        ASSERT_EQ(::stat((root.dir() + "/var/run/board.sock").c_str(), &st), 0);
        EXPECT_TRUE(S_ISSOCK(st.st_mode));
    }
    EXPECT_EQ(&board::board(), before);

    testsupport::TempRoot bare;  // no /var/run
    board::sim::Simulation sim;
    EXPECT_FALSE(sim.serve());
    EXPECT_EQ(errno, ENOENT);
}

}  // namespace
