#include "slots/mixer.h"

#include "base/errno.h"
#include "base/ext.h"
#include "base/fd.h"
#include "board/board.h"
#include "hardware/board_devices.h"
#include "slots/mixer_slot.h"

#include <fcntl.h>

#include <algorithm>
#include <cerrno>
#include <iostream>

namespace Mixer {

int mixer_ctl(unsigned long request, void* record)
{
    int result = -1;
    int error = 0;
    {
        Fd device(board::board().open(GetMixerDevName(), O_RDONLY | O_CLOEXEC));
        if (!device)
            return -1;
        result = board::board().ioctl(device.lowlevel_fd(), request, record);
        error = errno;
    }
    // The close keeps the request's error.
    errno = error;
    return result;
}

Mixer::Mixer(int id, MixerFactory& factory) : id_(id), factory_(factory) {}

void Mixer::PutHeader(std::ostream& os) const { os << "mixer [" << id_ << "]: "; }

bool Mixer::Channel2Slot(ZGCP::MixerChannel const& channel, mix_slot& slot) const
{
    slot = mix_slot{id_, 0, 0};
    if (!channel.tdm_isSelected())
        return false;
    slot.type = mix_slot_tdm;
    slot.number = channel.get_tdm().getValue();
    return true;
}

int Mixer::channel2timeslot(int channel) const
{
    mix_slot slot = tdm(channel);
    int const timeslot = mixer_ctl(mixer::kTdm, &slot);
    if (timeslot >= 0)
        return timeslot;
    Errno const e;
    std::cerr << ext::header(this) << "MIX_TDM dev_no=" << id_ << " type=" << mix_slot_tdm << " number=" << channel
              << " fail : " << e << std::endl;
    return -1;
}

bool Mixer::ClearTX(ZGCP::MixerChannel const& channel)
{
    mix_slot slot;
    if (!Channel2Slot(channel, slot)) {
        std::clog << ext::header(this) << "ClearTX error: translation fail" << std::endl;
        return false;
    }
    if (mixer_ctl(mixer::kRxClear, &slot) < 0) {
        Errno const e;
        std::cerr << ext::header(this) << "MIX_RX_CLEAR dev_no=" << slot.dev_no << " type=" << slot.type
                  << " number=" << slot.number << " fail : " << e << std::endl;
        return false;
    }
    return true;
}

bool Mixer::add(mix_route& route)
{
    if (mixer_ctl(mixer::kRxAdd, &route) >= 0)
        return true;
    Errno const e;
    std::cerr << ext::header(this) << "MIX_RX_ADD fail : " << e << std::endl;
    return false;
}

bool Mixer::SetTX(ZGCP::MixerOutParams const& params)
{
    ZGCP::MixerChannel const& output = params.get_channel();
    std::vector<mix_route> routes;
    mix_route route{};
    route.gain = mix_unity_gain;
    if (params.get_inputs().size() == 0) {
        if (!Channel2Slot(output, route.rx) || !Channel2Slot(output, route.tx)) {
            std::cerr << ext::header(this) << "SetTX error: mixer translation fail" << std::endl;
            return false;
        }
        routes.push_back(route);
    }
    for (ZGCP::MixerInput const& input : params.get_inputs()) {
        if (!Channel2Slot(output, route.rx)) {
            std::cerr << ext::header(this) << "SetTX error: translation fail [1]" << std::endl;
            return false;
        }
        if (!Channel2Slot(input.get_channel(), route.tx)) {
            std::cerr << ext::header(this) << "SetTX error: translation fail [2]" << std::endl;
            return false;
        }
        route.gain = input.get_gain().getValue();
        routes.push_back(route);
    }

    if (!ClearTX(output))
        return false;
    for (mix_route& r : routes) {
        if (!add(r)) {
            // The routes added so far go again.
            ClearTX(output);
            return false;
        }
    }
    return true;
}

void Mixer::Reset()
{
    std::clog << ext::header(this) << "clear all inputs" << std::endl;
    int failures = 0;
    for (int channel = 0; channel < factory_.tdm_channels(); ++channel) {
        mix_slot slot = tdm(channel);
        if (mixer_ctl(mixer::kRxClear, &slot) < 0)
            ++failures;
    }
    if (failures > 0)
        std::cerr << ext::header(this) << "reset fail: " << failures << " errors." << std::endl;
}

void Mixer::Clear()
{
    // The driver let go of the unit, and of what it owed.
    owed_.clear();
    owedRequests_.Clear();
    // A copy: a port told may go at once.
    std::vector<MixerSlot*> const ports = ports_;
    for (MixerSlot* port : ports)
        port->unitGone();
}

MixerSlot* Mixer::Register(MixerSlot* port)
{
    ports_.push_back(port);
    return port;
}

void Mixer::UnRegister(MixerSlot* port) { ports_.erase(std::remove(ports_.begin(), ports_.end(), port), ports_.end()); }

int Mixer::portTimeslot(ZGCP::MixerChannel const& channel) const
{
    if (!channel.tdm_isSelected())
        return -1;
    int const number = channel.get_tdm().getValue();
    if (number < 0 || number >= factory_.tdm_channels())
        return -1;
    // One port a channel: a second one would undo the first one's routes and switch output.
    for (MixerSlot const* port : ports_)
        if (port->channel() == number) {
            std::cerr << ext::header(this) << "channel " << number << " has a port already" << std::endl;
            return -1;
        }
    return channel2timeslot(number);
}

namespace {

// The TDM channels a new port's routes name: its own, then the output's inputs or the input's
// summator.
std::vector<int> routedChannels(ZGCP::MixerOutParams const& params)
{
    std::vector<int> channels{params.get_channel().get_tdm().getValue()};
    for (ZGCP::MixerInput const& input : params.get_inputs())
        if (input.get_channel().tdm_isSelected())
            channels.push_back(input.get_channel().get_tdm().getValue());
    return channels;
}

std::vector<int> routedChannels(ZGCP::MixerInParams const& params)
{
    std::vector<int> channels{params.get_channel().get_tdm().getValue()};
    if (params.summator_isPresent() && params.get_summator().tdm_isSelected())
        channels.push_back(params.get_summator().get_tdm().getValue());
    return channels;
}

}  // namespace

Slot* Mixer::New(ZGCP::MixerOutParams const& params)
{
    // The channel is checked before any route is touched: a declined output changes nothing.
    int const timeslot = portTimeslot(params.get_channel());
    if (timeslot < 0 || !settle(routedChannels(params)) || !SetTX(params))
        return nullptr;
    auto port = std::make_unique<TdmOutput>(shared_from_this(), params.get_channel().get_tdm().getValue(), timeslot);
    Register(port.get());
    return port.release();
}

Slot* Mixer::New(ZGCP::MixerInParams const& params)
{
    int const timeslot = portTimeslot(params.get_channel());
    if (timeslot < 0 || !settle(routedChannels(params)))
        return nullptr;
    int const channel = params.get_channel().get_tdm().getValue();
    auto port = std::make_unique<TdmInput>(shared_from_this(), channel, timeslot);
    if (params.summator_isPresent()) {
        ZGCP::MixerChannel const& summator = params.get_summator();
        if (summator.tdm_isSelected()) {
            int const sum = summator.get_tdm().getValue();
            mix_route route{tdm(sum), tdm(channel), mix_unity_gain};
            port->setSummator(sum, add(route));
        } else {
            // No route can be made of an rtp channel: none is asked for.
            std::cerr << ext::header(this) << "wrong summator coding !" << std::endl;
        }
    }
    if (params.ecm_isPresent())
        port->echoCancel(params.get_ecm().get_ec() || params.get_ecm().get_es());
    Register(port.get());
    return port.release();
}

bool Mixer::superseded() const { return dead_ && factory_.findMixer(id_) != nullptr; }

void Mixer::Release(TdmInput& port)
{
    port.stopDTMF();
    if (port.summator() >= 0 && !superseded()) {
        Leftover const route{port.summator(), port.channel()};
        if (request(route) < 0) {
            Errno const e;
            std::cerr << ext::header(this) << "MIX_RX_REMOVE rx.number=" << port.summator()
                      << " tx.number=" << port.channel() << " fail : " << e << std::endl;
            // A route the driver never took, or no longer has, is not left.
            if (port.routed() && e.value() != ENOENT)
                owe(route);
        }
    }
    UnRegister(&port);
}

void Mixer::Release(TdmOutput& port)
{
    port.stopDTMF();
    if (!superseded()) {
        std::clog << ext::header(this) << "clear tdm output " << port.channel() << std::endl;
        Leftover const sources{port.channel(), Leftover::kAllSources};
        if (request(sources) < 0)
            owe(sources);
    }
    UnRegister(&port);
}

namespace {

// "source 1 of channel 0", "the sources of channel 0".
std::ostream& operator<<(std::ostream& os, Mixer::Leftover const& l)
{
    if (l.tx == Mixer::Leftover::kAllSources)
        return os << "the sources of channel " << l.rx;
    return os << "source " << l.tx << " of channel " << l.rx;
}

char const* undone(Mixer::Leftover const& l) { return l.tx == Mixer::Leftover::kAllSources ? "cleared" : "removed"; }

bool names(Mixer::Leftover const& l, int channel) { return l.rx == channel || l.tx == channel; }

}  // namespace

int Mixer::request(Leftover const& l) const
{
    if (l.tx == Leftover::kAllSources) {
        mix_slot slot = tdm(l.rx);
        return mixer_ctl(mixer::kRxClear, &slot);
    }
    mix_route route{tdm(l.rx), tdm(l.tx), mix_unity_gain};
    return mixer_ctl(mixer::kRxRemove, &route);
}

bool Mixer::undo(Leftover const& l) const
{
    return request(l) >= 0 || (l.tx != Leftover::kAllSources && errno == ENOENT);
}

bool Mixer::owes(int channel) const
{
    return std::any_of(owed_.begin(), owed_.end(), [&](Leftover const& l) { return names(l, channel); });
}

void Mixer::owe(Leftover const& l)
{
    // A unit the driver no longer lists holds nothing. A port is made on no channel of what
    // is owed: nothing is owed twice.
    if (dead_)
        return;
    owed_.push_back(l);
    std::cerr << ext::header(this) << l << " left summed by a port gone: " << undone(l) << " once the driver takes it"
              << std::endl;
    owedRequests_.Owe();
}

template <class Pass>
void Mixer::pay(Pass pass)
{
    for (auto it = owed_.begin(); it != owed_.end();) {
        if (!pass(*it) || !undo(*it)) {
            ++it;
            continue;
        }
        std::clog << ext::header(this) << *it << " left summed by a port gone: " << undone(*it) << std::endl;
        it = owed_.erase(it);
    }
    if (owed_.empty())
        owedRequests_.Clear();
}

bool Mixer::PayOwed()
{
    pay([](Leftover const&) { return true; });
    return owed_.empty();
}

bool Mixer::settle(std::vector<int> const& channels)
{
    auto const named = [&](Leftover const& l) {
        return std::any_of(channels.begin(), channels.end(), [&](int c) { return names(l, c); });
    };
    pay(named);
    auto const left = std::find_if(owed_.begin(), owed_.end(), named);
    if (left == owed_.end())
        return true;
    std::cerr << ext::header(this) << "port on channel " << channels.front() << " fail: (" << *left
              << " left summed by a port gone is not " << undone(*left) << " yet)" << std::endl;
    return false;
}

MixerFactory& MixerFactory::instance()
{
    static MixerFactory factory;
    return factory;
}

void MixerFactory::PutHeader(std::ostream& os) const { os << "mixer: "; }

Slot* MixerFactory::INewSlot(ZGCP::CreateParams const& params)
{
    if (params.mixerOut_isSelected()) {
        std::shared_ptr<Mixer> unit = findMixer(params.get_mixerOut().get_unit().getValue());
        return unit ? unit->New(params.get_mixerOut()) : nullptr;
    }
    if (params.mixerIn_isSelected()) {
        std::shared_ptr<Mixer> unit = findMixer(params.get_mixerIn().get_unit().getValue());
        return unit ? unit->New(params.get_mixerIn()) : nullptr;
    }
    return nullptr;
}

std::shared_ptr<Mixer> MixerFactory::findMixer(int unit) const
{
    for (auto const& m : units_)
        if (!m->isDead() && m->id() == unit)
            return m;
    return nullptr;
}

namespace {

// The smaller of the two, where -1 stands for none yet.
int smallest(int current, int value) { return current == -1 ? value : std::min(current, value); }

}  // namespace

void MixerFactory::RefreshResources()
{
    for (auto const& m : units_)
        m->dead_ = true;
    mix_unit record{-1, 0, 0, 0};
    mixerInputs_ = -1;
    tdmChannels_ = -1;
    // The units found in this pass are counted, not the table: the units of the last pass
    // would otherwise fill it and every unit would be dropped every other time.
    for (std::size_t found = 0; found < kMaxUnits && mixer_ctl(mixer::kEnumerate, &record) >= 0; ++found) {
        mixerInputs_ = smallest(mixerInputs_, record.mixer_inputs);
        tdmChannels_ = smallest(tdmChannels_, record.tdm_channels);
        auto known = std::find_if(units_.begin(), units_.end(), [&](auto const& m) { return m->id() == record.id; });
        if (known != units_.end()) {
            (*known)->dead_ = false;
            continue;
        }
        units_.push_back(std::make_shared<Mixer>(record.id, *this));
        units_.back()->Reset();
    }

    // The units the driver no longer lists leave the table; each goes with its last port.
    auto const firstGone = std::stable_partition(units_.begin(), units_.end(), [](auto const& m) { return !m->isDead(); });
    std::vector<std::shared_ptr<Mixer>> const gone(firstGone, units_.end());
    units_.erase(firstGone, units_.end());
    for (auto const& m : gone)
        m->Clear();

    QueryDriverVersion();
}

void MixerFactory::QueryDriverVersion()
{
    versionValid_ = false;
    Fd voice(board::board().open(GetVoiceDevName(), O_RDONLY | O_CLOEXEC));
    if (!voice) {
        Errno const e;
        std::cerr << ext::header(this) << "device " << ext::quoted(GetVoiceDevName()) << " open fail: " << e
                  << std::endl;
        return;
    }
    versionValid_ = board::board().ioctl(voice.lowlevel_fd(), voice::kVersion, &version_) >= 0;
}

void MixerFactory::Query(ZGCP::Resources& resources)
{
    RefreshResources();
    auto& list = resources.set_mixer();
    list.clear();
    for (auto const& m : units_) {
        ZGCP::MixerResources_subtype entry;
        entry.set_unit(m->id());
        entry.set_tdm_inputs(std::max(tdmChannels_, 0));
        entry.set_tdm_outputs(std::max(tdmChannels_, 0));
        entry.set_mixer_inputs(std::max(mixerInputs_, 0));
        entry.set_dpu_per_mixer(kDpuPerMixer);
        entry.set_dpu_per_ec(kDpuPerEc);
        entry.set_dpu_per_lms(kDpuPerLms);
        list.push_back(entry);
    }
}

}  // namespace Mixer
