#pragma once

#include "board/mctl.h"
#include "board/sim/device.h"

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace board::sim {

// "/dev/mctl", the modem control device: a number of DSP modems. An open allocates the
// lowest free modem and holds it until its last close; each modem has a switch channel of
// its own (kFirstChannel + its number), a data-mode mask, data-modem parameters by index,
// and the call last asked of it. Requests on a modem number other than the open's own are
// refused with EINVAL.
class MctlModel : public Device {
public:
    static constexpr int kFirstChannel = 1536;
    static constexpr int kDefaultModems = 4;
    // Modems a console command may ask for.
    static constexpr int kMaxModems = 256;

    struct Modem {
        OpenFile* owner = nullptr;  // the open holding it; null when free
        std::uint32_t modes = 0;
        std::map<std::uint32_t, std::uint32_t> params;
        std::string call;  // "answer", "originate", "fax"; empty before a call
    };

    MctlModel();

    int modems() const { return int(modems_.size()); }
    // False (nothing changed) while a modem that would go is held.
    bool setModems(int count);
    Modem const& modem(int number) const { return modems_.at(std::size_t(number)); }
    static int channel(int number) { return kFirstChannel + number; }

    int request(OpenFile* file, RequestInfo const& info, void* arg) override;
    void closed(OpenFile& file) override;
    // "modems=2 0:ts=1536,modes=0x1,params=3:5/7:1,call=answer 1:free".
    std::string dump() const override;
    // "modems N", "modem M"; see board/README.md.
    std::string command(std::vector<std::string> const& words) override;

private:
    int held(OpenFile const& file) const;
    int allocate(OpenFile& file);
    // The open's own modem named by the record's first word, or null.
    Modem* own(OpenFile const& file, std::int32_t number);
    std::string text(int number) const;

    std::vector<Modem> modems_;
};

}  // namespace board::sim
