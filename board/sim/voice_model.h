#pragma once

#include "board/sim/device.h"
#include "board/voice.h"

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace board::sim {

// "/dev/voice": the number of codec channels of each kind and the driver's version record.
class VoiceModel : public Device {
public:
    VoiceModel();

    // What the count request answers for a kind (0 for a kind the driver does not have).
    int count(std::uint32_t kind) const;
    void setCount(std::uint32_t kind, int channels) { counts_[kind] = channels; }
    voice_version const& version() const { return version_; }
    void setVersion(voice_version const& version) { version_ = version; }

    int request(OpenFile* file, RequestInfo const& info, void* arg) override;
    // "g729=16 g723=16 g711=64 g711mcc=32 universal=8 version=2.1.0.0.0".
    std::string dump() const override;
    // "count KIND [N]" (KIND a name of the dump or a number): the count, after setting it;
    // "version [W0 W1 W2 W3 W4]": the record, after setting it.
    std::string command(std::vector<std::string> const& words) override;

private:
    std::map<std::uint32_t, int> counts_;
    voice_version version_;
};

}  // namespace board::sim
