// Aligned PER encode and decode time per message, for controller messages of different
// size (the run-time's fixture types, in the shape of the generated ones).

#include <iterator>
#include <vector>

#include <benchmark/benchmark.h>

#include "asn1/asn1.h"
#include "asn1/zgcp_fixture.h"

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

void encode(benchmark::State& state) {
    ZGCP::Message const message = messages[state.range(0)]();
    ASN1::CoderEnv env;
    env.set_encodingRule(ASN1::CoderEnv::per_Aligned);
    std::size_t size = 0;
    for (auto _ : state) {
        std::vector<char> frame;
        frame.reserve(200);
        bool const done = ASN1::encode(message, &env, std::back_inserter(frame));
        benchmark::DoNotOptimize(done);
        size = frame.size();
    }
    state.counters["octets"] = static_cast<double>(size);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * size));
}

void decode(benchmark::State& state) {
    ZGCP::Message const message = messages[state.range(0)]();
    ASN1::CoderEnv env;
    env.set_encodingRule(ASN1::CoderEnv::per_Aligned);
    std::vector<char> frame;
    ASN1::encode(message, &env, std::back_inserter(frame));
    for (auto _ : state) {
        ZGCP::Message received;
        bool const done = ASN1::decode(frame.data(), frame.data() + frame.size(), &env, received, true);
        benchmark::DoNotOptimize(done);
    }
    state.counters["octets"] = static_cast<double>(frame.size());
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * frame.size()));
}

void names(benchmark::internal::Benchmark* benchmark) {
    benchmark->ArgName("message");
    for (int i = 0; i < static_cast<int>(std::size(messages)); ++i) benchmark->Arg(i);
}

}  // namespace

// message: 0 ping, 1 error response, 2 bus test command, 3 user data of 1000 octets.
BENCHMARK(encode)->Apply(names);
BENCHMARK(decode)->Apply(names);
