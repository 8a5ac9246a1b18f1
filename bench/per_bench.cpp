// Aligned PER encode and decode time per message, for controller messages of different
// size.

#include <iterator>
#include <vector>

#include <benchmark/benchmark.h>

#include "bench/coder_bench.h"
#include "messages/zgcp.h"

namespace {

// A ping with neither sequence number nor slot: 2 octets.
ZGCP::Message ping() {
    ZGCP::Message message;
    message.set_pdu().select_command().select_ping();
    return message;
}

// An error response to a numbered command for a slot: 8 octets.
ZGCP::Message errorResponse() {
    ZGCP::Message message;
    message.set_seq(123456);
    message.set_slot(1000);
    message.set_pdu().select_response().select_error(ZGCP::ErrorCause::slotNotExists);
    return message;
}

// A bus test command: 14 octets.
ZGCP::Message busTest() {
    ZGCP::Message message;
    message.set_seq(77);
    message.set_slot(12);
    ZGCP::BpcTestParams& params = message.set_pdu().select_command().select_testBpc();
    params.set_bus(3);
    params.set_seed(0x12345678);
    params.set_mode().select_write();
    params.set_timeslot_start(4);
    params.set_timeslot_length(28);
    return message;
}

// User data of 1000 octets for a slot: 1008 octets.
ZGCP::Message userData() {
    ZGCP::Message message;
    message.set_seq(9);
    message.set_slot(511);
    message.set_pdu().select_command().select_userData(std::vector<char>(1000, '\x5A'));
    return message;
}

ZGCP::Message (*const messages[])() = {ping, errorResponse, busTest, userData};

void encode(benchmark::State& state) { CoderBench::encode(state, messages); }
void decode(benchmark::State& state) { CoderBench::decode(state, messages); }

}  // namespace

// message: 0 ping, 1 error response, 2 bus test command, 3 user data of 1000 octets.
BENCHMARK(encode)->ArgName("message")->DenseRange(0, static_cast<int>(std::size(messages)) - 1);
BENCHMARK(decode)->ArgName("message")->DenseRange(0, static_cast<int>(std::size(messages)) - 1);
