#include "board/sim/dtmf_model.h"

#include "base/clock.h"
#include "board/sim/console.h"
#include "board/sim/sim_board.h"

#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <optional>

namespace {

struct DtmfModelTest : ::testing::Test {
    Mux::TestClock clock;
    board::sim::SimBoard sim;
    board::sim::DtmfModel& model = sim.add<board::sim::DtmfModel>();
    board::sim::Console console{sim};
    int fd = sim.open(dtmf::kPath, O_RDONLY | O_NONBLOCK | O_CLOEXEC);

    ~DtmfModelTest() override { ::close(fd); }

    std::optional<tonec_event_record> next()
    {
        tonec_event_record r{};
        if (::read(fd, &r, sizeof r) != ssize_t(sizeof r))
            return std::nullopt;
        return r;
    }
};

TEST_F(DtmfModelTest, RequestsAreKeptPerTimeslotAndEventsInjectedUnderTheCurrentOrAGivenId)
{
    clock.setMilliseconds(1000);
    dtmf_enable_params enable{5, 3};
    dtmf_dial_params dial{5, 697, 1209, 100, 100};
    ASSERT_EQ(sim.ioctl(fd, dtmf::kEnableDetector, &enable), 0);
    ASSERT_EQ(sim.ioctl(fd, dtmf::kLmsOn, board::byValue(5)), 0);
    ASSERT_EQ(sim.ioctl(fd, dtmf::kDial, &dial), 0);
    dtmf_enable_params outOfRange{65536, 4};
    EXPECT_EQ(sim.ioctl(fd, dtmf::kEnableDetector, &outOfRange), -1);
    EXPECT_EQ(errno, EINVAL);

    struct Case {
        char const* command;
        char const* reply;
        std::optional<tonec_event_record> record;
    };
    Case const cases[] = {
        {"dtmf 5 9 7", "ok sent=1", tonec_event_record{9, 5, 1000, 7}},
        {"iva 5 21", "ok sent=1", tonec_event_record{21 << 8, 5, 1000, 3}},
        {"dtmf 6 1", "ok sent=1", tonec_event_record{1, 6, 1000, 0}},
        {"dtmf 5 128", "error usage: dtmf TS CODE [ID] | iva TS CODE [ID] | channel TS | generator TS", {}},
        {"iva 5 0 1 2", "error usage: dtmf TS CODE [ID] | iva TS CODE [ID] | channel TS | generator TS", {}},
        {"channel 5", "ok dtmf=on id=3 iva=off lms=on reject=off gen=697/1209/100/100", {}},
        {"channel 6", "error no request for timeslot 6", {}},
        {"generator 5", "ok 1000:697/1209/100/100", {}},
    };
    for (Case const& c : cases) {
        EXPECT_EQ(console.execute(std::string("device /dev/dtmf ") + c.command), c.reply) << c.command;
        auto got = next();
        ASSERT_EQ(got.has_value(), c.record.has_value()) << c.command;
        if (got) {
            EXPECT_EQ(std::memcmp(&*got, &*c.record, sizeof *got), 0) << c.command;
        }
    }
    EXPECT_EQ(console.execute("dump /dev/dtmf"), "ok 5: dtmf=on id=3 iva=off lms=on reject=off gen=697/1209/100/100");
    ::close(fd);
    fd = -1;
    EXPECT_EQ(console.execute("device /dev/dtmf dtmf 5 9"), "error no open of /dev/dtmf");
}

}  // namespace
