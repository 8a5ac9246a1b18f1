#include "hardware/hw_tests.h"

#include "base/ext.h"
#include "board/board.h"
#include "hardware/hw_mux.h"

#include <iomanip>
#include <iostream>

namespace {

// A byte as two upper-case hex digits and a blank.
struct HexByte {
    unsigned value;
};

std::ostream& operator<<(std::ostream& os, HexByte b)
{
    return os << std::hex << std::uppercase << std::setw(2) << std::setfill('0') << (b.value & 0xFF) << std::dec
              << std::nouppercase << std::setfill(' ') << ' ';
}

}  // namespace

HwTests& HwTests::instance()
{
    static HwTests tests;
    return tests;
}

HwTests::HwTests(HwMux* mux) : mux_(mux)
{
    initstate_r(0, state_.data(), state_.size(), &random_);
}

HwMux& HwTests::mux() const { return mux_ ? *mux_ : HwMux::instance(); }

void HwTests::PutHeader(std::ostream& os) const { os << "bus " << bus_ << ": "; }

bool HwTests::OnCommand(ZGCP::Command const& command)
{
    if (!command.testBpc_isSelected())
        return false;
    OnTestBpc(command.get_testBpc());
    return true;
}

void HwTests::seed() { srandom_r(unsigned(seed_), &random_); }

unsigned char HwTests::next()
{
    std::int32_t value = 0;
    random_r(&random_, &value);
    return static_cast<unsigned char>(value & 0xFF);
}

void HwTests::OnTestBpc(ZGCP::BpcTestParams const& params)
{
    bus_ = std::int32_t(params.get_bus().getValue());
    int const start = int(params.get_timeslot_start().getValue());
    int const length = int(params.get_timeslot_length().getValue());
    first_ = kBusFirst + bus_ * 128 + start;
    end_ = first_ + length;
    seed_ = params.get_seed().getValue();
    // A run may go on into the next bus, but never past the last shared-bus channel.
    if (end_ > kBusEnd) {
        std::cerr << ext::header(this) << "time slots " << start << " to " << start + length - 1
                  << " reach past the last bus channel " << kBusEnd - 1 << std::endl;
        Error(ZGCP::ErrorCause::invalidParams);
        return;
    }
    seed();
    switch (params.get_mode().currentSelection()) {
    case ZGCP::BpcTestMode::read::id: TestRead(); break;
    case ZGCP::BpcTestMode::write::id: TestWrite(); break;
    case ZGCP::BpcTestMode::disconnect::id: TestDisconnect(); break;
    default: Error(ZGCP::ErrorCause::invalidParams); break;
    }
}

void HwTests::compare(char const* failed, char const* expected, char const* read)
{
    for (int channel = first_; channel < end_; ++channel) {
        unsigned const want = next();
        unsigned const got = unsigned(mux().Read(channel));
        if (got != want) {
            std::cerr << ext::header(this) << failed << channel % 128 << expected << HexByte{want} << read
                      << HexByte{got} << std::endl;
            Error(ZGCP::ErrorCause::busError);
            return;
        }
    }
    Success();
}

void HwTests::TestRead() { compare("test failed on channel ", " expected ", " read "); }

void HwTests::OnDisconnect()
{
    // One whose disable fails is tried again when the next controller goes.
    for (std::size_t i = 0; i < driven_.size(); ++i)
        if (driven_[i] && mux().Release(kBusFirst + int(i)))
            driven_.reset(i);
}

void HwTests::TestWrite()
{
    for (int channel = first_; channel < end_; ++channel) {
        mux().Write(channel, next());
        driven_.set(std::size_t(channel - kBusFirst));
    }
    board::board().pause(kWriteSettleUs);
    seed();
    compare("write failed on channel ", " write ", " written ");
}

void HwTests::TestDisconnect()
{
    for (int channel = first_; channel < end_; ++channel)
        if (mux().Disable(channel))
            driven_.reset(std::size_t(channel - kBusFirst));
    board::board().pause(kDisableSettleUs);
    Success();
}
