#include "runtime/linux_run.h"

#include "tests/capture.h"
#include "tests/process_figures.h"
#include "tests/temp_root.h"

#include <fcntl.h>
#include <unistd.h>
#include <gtest/gtest.h>

#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

namespace {

using testsupport::CaptureStream;
using testsupport::TempRoot;

std::string slurp(std::string const& file)
{
    std::ifstream in(file);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

bool exists(std::string const& file) { return ::access(file.c_str(), F_OK) == 0; }

TEST(LinuxRun, ThePidFileHoldsThePidWhileTheGuardLives)
{
    TempRoot root({"/var/run"});
    std::string const file = root.dir() + "/var/run/server.pid";
    {
        CaptureStream err(std::cerr);
        Linux::Run run("server");
        EXPECT_TRUE(run.written());
        EXPECT_EQ(run.path(), "/var/run/server.pid");
        EXPECT_EQ(slurp(file), std::to_string(::getpid()));
        int fd = testsupport::descriptorOn(::getpid(), file);
        ASSERT_GE(fd, 0);
        EXPECT_TRUE(::fcntl(fd, F_GETFD) & FD_CLOEXEC);
        EXPECT_EQ(err.text(), "");
    }
    EXPECT_FALSE(exists(file));
}

TEST(LinuxRun, AnOldFileIsReplaced)
{
    TempRoot root({"/var/run"});
    std::string const file = root.dir() + "/var/run/x.pid";
    std::ofstream(file) << "12345678901234567890\n";
    Linux::Run run("x");
    EXPECT_EQ(slurp(file), std::to_string(::getpid()));
}

TEST(LinuxRun, AFileThatCannotBeWrittenGivesOneLineAndIsNotRemoved)
{
    TempRoot root;  // no /var/run
    CaptureStream err(std::cerr);
    {
        Linux::Run run("server");
        EXPECT_FALSE(run.written());
        // Made afterwards by someone else: not this guard's to remove.
        ASSERT_EQ(::mkdir((root.dir() + "/var").c_str(), 0755), 0);
        ASSERT_EQ(::mkdir((root.dir() + "/var/run").c_str(), 0755), 0);
        std::ofstream(root.dir() + "/var/run/server.pid") << "1";
    }
    EXPECT_EQ(err.text(), "cannot write pid file /var/run/server.pid: No such file or directory\n");
    EXPECT_TRUE(exists(root.dir() + "/var/run/server.pid"));
}

}  // namespace
