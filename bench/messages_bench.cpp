// Aligned PER encode and decode time of four controller messages built with the
// generated classes: the heartbeat's ping, an RTP create, a tone signal and the resources
// report that answers a query.

#include <iterator>
#include <vector>

#include <benchmark/benchmark.h>

#include "bench/coder_bench.h"
#include "messages/acp.h"
#include "messages/zgcp.h"

namespace {

ZGCP::Message ping() {
    ZGCP::Message message;
    message.set_seq(4711);
    message.set_pdu().select_command().select_ping();
    return message;
}

ZGCP::Message rtpCreate() {
    ZGCP::Message message;
    message.set_seq(812);
    message.set_slot(417);
    ZGCP::CreateRtpParams& rtp = message.set_pdu().select_command().select_create().select_rtp();
    TERM::RtpParams& codec = rtp.set_codecRTP();
    codec.set_payload(TERM::Payload::ptG711_Alaw);
    codec.set_dhost().set_iaddr("192.168.17.20");
    codec.set_dhost().set_port(40002);
    codec.set_shost().set_iaddr("192.168.17.2");
    codec.set_shost().set_port(30416);
    codec.set_pfactor(2);
    codec.set_vad(false);
    codec.set_ssrc(0x9E3779B9u);
    codec.set_ttl(64);
    codec.set_qos_dscp(TERM::IpQoSDSCP::ef);
    rtp.set_txPayload(TERM::Payload::ptG711_Alaw);
    rtp.set_rxPayload(TERM::Payload::ptG711_Alaw);
    return message;
}

ZGCP::Message tonecSignal() {
    ZGCP::TonecEvent event;
    event.set_timestamp(1734567);
    event.set_event().select_dtmf(7);
    ZGCP::Message message;
    message.set_slot(33);
    message.set_pdu().select_signal(ZGCP::Signal(ZGCP::Signal::tonec::id, event));
    return message;
}

ZGCP::Message queryResources() {
    ZGCP::Resources resources;
    resources.set_boardMajor(3);
    resources.set_boardMinor(1);
    ACP::VersionInfo& version = resources.set_drvVersion();
    version.set_version("5.4.2");
    version.set_date("2023-07-14");
    version.set_revision(1187);
    resources.set_rtp_g729(64);
    resources.set_rtp_g723(64);
    resources.set_rtp_g711(128);
    resources.set_rtp_g711mcc(32);
    resources.set_modem(8);
    for (int unit = 0; unit < 4; ++unit) {
        ZGCP::MixerResources_subtype mixer;
        mixer.set_unit(unit);
        mixer.set_tdm_inputs(32);
        mixer.set_tdm_outputs(32);
        mixer.set_mixer_inputs(64);
        mixer.set_dpu_per_mixer(2);
        mixer.set_dpu_per_ec(1);
        mixer.set_dpu_per_lms(1);
        resources.set_mixer().push_back(mixer);
    }
    resources.set_mux(true);
    resources.set_mcc_data(16);
    resources.set_mcc_bri(8);
    resources.set_mcc_trans(16);
    for (int bus = 0; bus < 4; ++bus) resources.set_echoBus().push_back(ASN1::INTEGER(bus));
    resources.set_t38_instances(4);
    resources.set_digital_modems(8);
    resources.set_lin16(0);
    resources.set_universal(12);
    ZGCP::Message message;
    message.set_pdu().select_signal(ZGCP::Signal(ZGCP::Signal::query::id, resources));
    return message;
}

ZGCP::Message (*const builders[])() = {ping, rtpCreate, tonecSignal, queryResources};

void encodeMessage(benchmark::State& state) { CoderBench::encode(state, builders); }
void decodeMessage(benchmark::State& state) { CoderBench::decode(state, builders); }

}  // namespace

// message: 0 ping, 1 RTP create, 2 tonec signal, 3 query resources signal.
BENCHMARK(encodeMessage)->ArgName("message")->DenseRange(0, static_cast<int>(std::size(builders)) - 1);
BENCHMARK(decodeMessage)->ArgName("message")->DenseRange(0, static_cast<int>(std::size(builders)) - 1);
