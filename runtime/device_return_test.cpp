#include "runtime/device_return.h"

#include "base/clock.h"
#include "runtime/multiplexer.h"
#include "tests/loop_pump.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace {

// What a try of the owner comes to.
enum class Try {
    fails,  // the device does not open
    ends,   // it opens, and ends on the next turn
    stays,  // it opens and stays
    refused,  // it opens and stays, and the driver refuses the put-back at the first two tries
};

// An owner whose tries go as scripted; it writes down when each try, end and return came
// (milliseconds since the start) and whether an end was to be said.
class Owner : public DeviceReturn::Owner {
public:
    Owner(std::vector<Try> script, std::uint32_t start) : script_(std::move(script)), start_(start) {}

    bool Reopen() override
    {
        Try const t = next_ < script_.size() ? script_[next_++] : Try::fails;
        note("try");
        if (t == Try::ends)
            end_.set(0, &Owner::End, this);
        if (t == Try::refused)
            refusals_ = 2;
        return t != Try::fails;
    }
    bool PutBack() override
    {
        note("put back");
        return refusals_ == 0 || --refusals_ < 0;
    }
    void Refused() override { note("refused"); }
    void Back() override { note("back"); }
    void End() { note(device.Ended() ? "end said" : "end"); }
    void note(char const* what) { events.push_back(std::to_string(Mux::milliseconds() - start_) + " " + what); }

    DeviceReturn device{*this};
    std::vector<std::string> events;

private:
    std::vector<Try> script_;
    std::size_t next_ = 0;
    int refusals_ = 0;
    std::uint32_t start_;
    Timer end_;
};

TEST(DeviceReturn, TriesBackOffToAboutAMinuteAndOneReturnIsSaid)
{
    struct Case {
        char const* name;
        bool ended;  // the device ended (else its first open failed)
        std::vector<Try> script;
        std::uint32_t retryAt;  // a request needs the device then (0: none)
        std::vector<std::string> events;
    };
    using T = Try;
    Case const cases[] = {
        // An end is back after a second's trial.
        {"ends on trial are not said and the waits grow", true, {T::ends, T::ends, T::stays}, 0,
         {"0 end said", "1000 try", "1000 put back", "1000 end", "3000 try", "3000 put back", "3000 end", "7000 try",
          "7000 put back", "8000 back"}},
        // A first open that fails is back as soon as it opens.
        {"the waits stop growing at 64 s", false, {T::fails, T::fails, T::fails, T::fails, T::fails, T::fails, T::fails,
                                                   T::fails, T::stays},
         0,
         {"1000 try", "3000 try", "7000 try", "15000 try", "31000 try", "63000 try", "127000 try", "191000 try",
          "255000 try", "255000 put back", "255000 back"}},
        // A refused put-back is said once, tried again on the same back-off while the device
        // stays open, and the device is back once all of it took.
        {"a refused put-back is tried again", true, {T::fails, T::refused}, 0,
         {"0 end said", "1000 try", "3000 try", "3000 put back", "3000 refused", "5000 put back", "9000 put back",
          "10000 back"}},
        {"a request tries at once", true, {T::fails, T::stays}, 500,
         {"0 end said", "500 try", "1000 try", "1000 put back", "2000 back"}},
    };
    for (Case const& c : cases) {
        Mux::TestClock clock;
        Owner owner(c.script, Mux::milliseconds());
        if (c.ended)
            owner.End();
        else
            owner.device.Lost();
        if (c.retryAt != 0) {
            testsupport::advance(clock, c.retryAt);
            EXPECT_FALSE(owner.device.Retry()) << c.name;
        }
        testsupport::advance(clock, 300000 - c.retryAt);
        EXPECT_EQ(owner.events, c.events) << c.name;
        EXPECT_FALSE(owner.device.away()) << c.name;
        EXPECT_EQ(multiplexer.timer_count(), 0u) << c.name;
    }
}

}  // namespace
