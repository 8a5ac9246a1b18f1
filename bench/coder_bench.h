#pragma once

// The loops of the coder benchmarks: aligned PER encode and decode time of one message,
// built by the entry of a table of builders that the benchmark's argument chooses. Each
// run reports the message's size in octets.

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <vector>

#include <benchmark/benchmark.h>

#include "asn1/asn1.h"

namespace CoderBench {

// The octets of a message as the links send it (empty when it does not encode).
template <class Message>
std::vector<char> frameOf(Message const& message, ASN1::CoderEnv& env) {
    std::vector<char> frame;
    frame.reserve(200);
    if (!ASN1::encode(message, &env, std::back_inserter(frame))) frame.clear();
    return frame;
}

inline void report(benchmark::State& state, std::size_t octets) {
    state.counters["octets"] = static_cast<double>(octets);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * octets));
}

template <class Message, std::size_t N>
void encode(benchmark::State& state, Message (*const (&builders)[N])()) {
    Message const message = builders[state.range(0)]();
    ASN1::CoderEnv env;
    env.set_encodingRule(ASN1::CoderEnv::per_Aligned);
    std::size_t const size = frameOf(message, env).size();
    if (size == 0) state.SkipWithError("the message does not encode");
    for (auto _ : state) benchmark::DoNotOptimize(frameOf(message, env));
    report(state, size);
}

template <class Message, std::size_t N>
void decode(benchmark::State& state, Message (*const (&builders)[N])()) {
    ASN1::CoderEnv env;
    env.set_encodingRule(ASN1::CoderEnv::per_Aligned);
    std::vector<char> const frame = frameOf(builders[state.range(0)](), env);
    for (auto _ : state) {
        Message received;
        if (!ASN1::decode(frame.data(), frame.data() + frame.size(), &env, received, true))
            state.SkipWithError("the message does not decode");
        benchmark::DoNotOptimize(received);
    }
    report(state, frame.size());
}

}  // namespace CoderBench
