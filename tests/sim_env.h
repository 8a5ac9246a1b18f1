#pragma once

// The simulated board of a test process: every device model the daemon uses, built and
// installed at the first use and kept for the process, shared by every fixture of it.
//
// The device singletons (switch, tone and voice-processing services, slot factories) open
// their devices once and keep the descriptors for the process, so the board they opened
// them on must be installed whenever they run. Hence: a fixture that uses a singleton, or
// code that does, takes this board; no model held below is ever replaced (its users would
// keep the old one). A fixture that builds its own user of another device may put a fresh
// model of it in place for each test (the modem tests do); a test of an object it builds
// itself may install a board of its own for its life, as long as no singleton is first used
// meanwhile.

#include "board/board.h"
#include "board/dsp.h"
#include "board/dsp_data.h"
#include "board/dtmf.h"
#include "board/e1_cas.h"
#include "board/hal.h"
#include "board/maintenance.h"
#include "board/mcc.h"
#include "board/mixer.h"
#include "board/rtp.h"
#include "board/sim/dsp_data_model.h"
#include "board/sim/dsp_model.h"
#include "board/sim/dtmf_model.h"
#include "board/sim/e1_cas_model.h"
#include "board/sim/hal_model.h"
#include "board/sim/maintenance_model.h"
#include "board/sim/mcc_model.h"
#include "board/sim/mixer_model.h"
#include "board/sim/rtp_ext_model.h"
#include "board/sim/rtp_model.h"
#include "board/sim/sim_board.h"
#include "board/sim/voice_model.h"
#include "board/voice.h"

#include <cstdint>
#include <string>
#include <vector>

namespace testsupport {

// The requests on the device journaled on the board since the mark, each as the journal line
// from the request's name on ("write 37 213 -> 0").
inline std::vector<std::string> journalRequests(board::sim::SimBoard& sim, std::uint64_t from, std::string const& path)
{
    std::string const at = " " + path + " ";
    std::vector<std::string> out;
    for (auto const& e : sim.journal().since(from)) {
        std::string const text = e.text();
        auto const pos = text.find(at);
        if (e.kind == board::sim::JournalEntry::Kind::request && e.path == path && pos != std::string::npos)
            out.push_back(text.substr(pos + at.size()));
    }
    return out;
}

class SimEnv {
    // Every standard device from the start, so that the models below are found.
    struct StandardBoard : board::sim::SimBoard {
        StandardBoard() { addStandardDevices(); }
    };

    template <class Model>
    Model& model(std::string const& path)
    {
        return dynamic_cast<Model&>(*sim.device(path));
    }

    SimEnv() = default;

public:
    SimEnv(SimEnv const&) = delete;
    SimEnv& operator=(SimEnv const&) = delete;

    // The process's board, built and installed at the first call.
    static SimEnv& get()
    {
        static SimEnv env;
        return env;
    }

    // The journal's next sequence number: entries from here on are the test's.
    std::uint64_t mark() { return sim.journal().next(); }
    // The requests on the device since the mark, each as the journal line from the
    // request's name on ("write 37 213 -> 0").
    std::vector<std::string> requests(std::uint64_t from, std::string const& path = hal::kPath)
    {
        return journalRequests(sim, from, path);
    }

    StandardBoard sim;

private:
    board::ScopedBoard installed_{sim};

public:
    board::sim::HalModel& hal = model<board::sim::HalModel>(hal::kPath);
    board::sim::MccModel& mcc = model<board::sim::MccModel>(mcc::kPath);
    board::sim::DtmfModel& dtmf = model<board::sim::DtmfModel>(dtmf::kPath);
    board::sim::DspModel& dsp = model<board::sim::DspModel>(dsp::kPath);
    board::sim::RtpModel& rtp = model<board::sim::RtpModel>(rtp::kPath);
    board::sim::RtpExtModel& rtpExt = model<board::sim::RtpExtModel>(rtp_ext::kPath);
    board::sim::VoiceModel& voice = model<board::sim::VoiceModel>(voice::kPath);
    board::sim::MaintenanceModel& maintenance = model<board::sim::MaintenanceModel>(maintenance::kPath);
    board::sim::E1CasModel& cas = model<board::sim::E1CasModel>(e1cas::kPath);
    board::sim::MixerModel& mixer = model<board::sim::MixerModel>(mixer::kPath);
    board::sim::DspDataModel& dspData = model<board::sim::DspDataModel>(dspdata::kPath);
};

}  // namespace testsupport
