#include "board/sim/dtmf_model.h"

#include "base/clock.h"
#include "board/sim/model_words.h"

#include <cerrno>
#include <sstream>

namespace board::sim {
namespace {

char const* onOff(bool on) { return on ? "on" : "off"; }

void putChannel(std::ostream& os, DtmfModel::Channel const& c)
{
    os << "dtmf=" << onOff(c.dtmf) << " id=" << c.id << " iva=" << onOff(c.iva) << " lms=" << onOff(c.lms)
       << " reject=" << onOff(c.rejection);
    if (c.detector)
        os << " detector=" << c.detector->twist << '/' << c.detector->ratio << '/' << c.detector->silence << '/'
           << c.detector->noise;
    if (c.ivaLevel)
        os << " iva-level=" << *c.ivaLevel;
    if (!c.generator.empty()) {
        DtmfModel::Tone const& t = c.generator.back();
        os << " gen=" << t.freq1 << '/' << t.freq2 << '/' << t.amp1 << '/' << t.amp2;
    }
    if (c.selcal)
        os << " selcal=" << c.selcal->amplitude << '/' << std::string(c.selcal->signs, sizeof c.selcal->signs);
}

}  // namespace

DtmfModel::DtmfModel()
    : Device(dtmf::kPath, {
                              {dtmf::kConfigureDetector, "configure", sizeof(dtmf_detector_params)},
                              {dtmf::kEnableDetector, "enable", sizeof(dtmf_enable_params)},
                              {dtmf::kDisableDetector, "disable", 0, true},
                              {dtmf::kDial, "dial", sizeof(dtmf_dial_params)},
                              {dtmf::kLmsOn, "lms-on", 0, true},
                              {dtmf::kLmsOff, "lms-off", 0, true},
                              {dtmf::kRejectionEnable, "reject-on", 0, true},
                              {dtmf::kRejectionDisable, "reject-off", 0, true},
                              {dtmf::kIvaEnable, "iva-on", 0, true},
                              {dtmf::kIvaDisable, "iva-off", 0, true},
                              {dtmf::kIvaConfigure, "iva-configure", sizeof(iva_detector_params)},
                              {dtmf::kSelcalDial, "selcal", sizeof(selcal_dial_params)},
                          })
{
}

DtmfModel::Channel const* DtmfModel::channel(std::uint32_t ts) const
{
    auto it = channels_.find(ts);
    return it == channels_.end() ? nullptr : &it->second;
}

int DtmfModel::request(OpenFile*, RequestInfo const& info, void* arg)
{
    // Every record begins with the timeslot; the other requests pass it by value.
    std::uint32_t const ts =
        info.byValue ? std::uint32_t(reinterpret_cast<unsigned long>(arg)) : *static_cast<std::uint32_t*>(arg);
    if (ts > kMaxTimeslot)
        return -EINVAL;
    Channel& c = channels_[ts];
    switch (info.number) {
    case dtmf::kConfigureDetector: c.detector = *static_cast<dtmf_detector_params*>(arg); break;
    case dtmf::kEnableDetector:
        c.dtmf = true;
        c.id = static_cast<dtmf_enable_params*>(arg)->id;
        break;
    case dtmf::kDisableDetector: c.dtmf = false; break;
    case dtmf::kDial: {
        auto const& r = *static_cast<dtmf_dial_params*>(arg);
        record(c, {Mux::milliseconds(), r.freq1, r.freq2, r.amp1, r.amp2});
        break;
    }
    case dtmf::kLmsOn:
    case dtmf::kLmsOff: c.lms = info.number == dtmf::kLmsOn; break;
    case dtmf::kRejectionEnable:
    case dtmf::kRejectionDisable: c.rejection = info.number == dtmf::kRejectionEnable; break;
    case dtmf::kIvaEnable:
    case dtmf::kIvaDisable: c.iva = info.number == dtmf::kIvaEnable; break;
    case dtmf::kIvaConfigure: c.ivaLevel = static_cast<iva_detector_params*>(arg)->det_lvl_dB; break;
    case dtmf::kSelcalDial: c.selcal = *static_cast<selcal_dial_params*>(arg); break;
    default: return -ENOTTY;
    }
    return 0;
}

void DtmfModel::closed(OpenFile&)
{
    if (!opens().empty())
        return;
    for (auto& [ts, c] : channels_) {
        Tone const& last = c.generator.empty() ? Tone{} : c.generator.back();
        if (last.freq1 || last.freq2 || last.amp1 || last.amp2)
            record(c, {Mux::milliseconds(), 0, 0, 0, 0});
        c.detector.reset();
        c.dtmf = c.iva = c.lms = c.rejection = false;
        c.id = 0;
        c.ivaLevel.reset();
    }
}

void DtmfModel::record(Channel& c, Tone const& tone)
{
    c.generator.push_back(tone);
    if (c.generator.size() > kHistory)
        c.generator.pop_front();
}

int DtmfModel::inject(std::uint32_t ts, std::uint32_t code, std::optional<std::uint32_t> id)
{
    Channel const* c = channel(ts);
    tonec_event_record r{code, ts, Mux::milliseconds(), id ? *id : (c ? c->id : 0)};
    return broadcast(&r, sizeof r);
}

std::string DtmfModel::injected(std::uint32_t ts, std::uint32_t code, std::optional<std::uint32_t> id)
{
    int n = inject(ts, code, id);
    return n > 0 ? "ok sent=" + std::to_string(n) : "error no open of " + path();
}

std::string DtmfModel::dump() const
{
    std::ostringstream os;
    for (auto const& [ts, c] : channels_) {
        if (os.tellp() > 0)
            os << "; ";
        os << ts << ": ";
        putChannel(os, c);
    }
    return os.str();
}

std::string DtmfModel::command(std::vector<std::string> const& w)
{
    std::optional<long long> ts = w.size() >= 2 ? words::number(w[1], 0, kMaxTimeslot) : std::nullopt;
    std::optional<std::uint32_t> id;
    if (ts && w.size() >= 3 && words::optionalId(w, 3, id)) {
        if (w[0] == "dtmf")
            if (auto code = words::number(w[2], 0, 127))
                return injected(std::uint32_t(*ts), std::uint32_t(*code), id);
        if (w[0] == "iva")
            if (auto code = words::number(w[2], 1, dtmf::kIvaRingOff))
                return injected(std::uint32_t(*ts), std::uint32_t(*code) << dtmf::kIvaShift, id);
    }
    if (ts && w.size() == 2 && (w[0] == "channel" || w[0] == "generator")) {
        Channel const* c = channel(std::uint32_t(*ts));
        if (c == nullptr)
            return "error no request for timeslot " + w[1];
        std::ostringstream os;
        os << "ok";
        if (w[0] == "channel")
            putChannel(os << ' ', *c);
        else
            for (Tone const& t : c->generator)
                os << ' ' << t.atMs << ':' << t.freq1 << '/' << t.freq2 << '/' << t.amp1 << '/' << t.amp2;
        return os.str();
    }
    return "error usage: dtmf TS CODE [ID] | iva TS CODE [ID] | channel TS | generator TS";
}

}  // namespace board::sim
