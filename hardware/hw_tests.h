#pragma once

#include "control/ctrl_server.h"

#include <stdlib.h>

#include <array>
#include <bitset>
#include <cstdint>
#include <iosfwd>

class HwMux;

// The controller's shared-bus tests (testBpc): a run of one bus's time slots is read,
// written and read back, or disconnected through the time-slot switch, and compared with a
// pseudo-random byte pattern drawn from the command's seed. The answer is success, or
// busError at the first mismatch. The whole test runs while the command is handled.
//
// The pattern is the C library's srandom(seed) and random() sequence, drawn from a state
// of the service's own so that the process-wide generator is left alone.
//
// A write test leaves its pattern on the bus, for other boards to read, until a disconnect
// test lets the channels go; when the controller goes, the service lets go every channel it
// still drives, so that nothing of a controller that is gone stays on the bus between boards.
class HwTests : public CtrlSrv::Service {
public:
    static constexpr int kBusFirst = 8192;
    static constexpr int kBusEnd = kBusFirst + 16 * 128;
    static constexpr unsigned kWriteSettleUs = 500;
    static constexpr unsigned kDisableSettleUs = 250;

    // The process's service, built on first call.
    static HwTests& instance();

    // mux: the switch to test through (null: HwMux::instance(), when needed).
    explicit HwTests(HwMux* mux = nullptr);

    void OnConnect() override {}
    // Lets go the bus outputs the write tests drove and no disconnect test has let go since;
    // one that another user has connected since is kept.
    void OnDisconnect() override;
    bool OnCommand(ZGCP::Command const& command) override;

    void OnTestBpc(ZGCP::BpcTestParams const& params);
    void TestRead();
    void TestWrite();
    void TestDisconnect();

    void PutHeader(std::ostream& os) const;

private:
    HwMux& mux() const;
    void seed();
    // The next pattern byte.
    unsigned char next();
    // Compares every channel's byte with the pattern from the seed; the words name the
    // test in the log line of a mismatch. Answers the command.
    void compare(char const* failed, char const* expected, char const* read);

    HwMux* mux_;
    std::int32_t bus_ = 0;
    std::int32_t first_ = 0;
    std::int32_t end_ = 0;
    std::int32_t seed_ = 0;
    // The bus outputs the write tests drove and no disconnect test has let go since.
    std::bitset<kBusEnd - kBusFirst> driven_;
    // The pattern generator's state (the size of the C library's default state).
    std::array<char, 128> state_{};
    random_data random_{};
};
