#pragma once

#include "board/sim/device.h"

#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace board::sim {

// A device model whose every open is one session, a record of type S (an OpenState with an
// `open` member) made when the daemon opens the device.
template <class S>
class SessionDevice : public Device {
public:
    using Session = S;
    using Device::Device;

    // The sessions of the opens held now, in the order of opening.
    std::vector<S const*> sessions() const
    {
        std::vector<S const*> out;
        for (OpenFile* f : opens())
            out.push_back(&of(*f));
        return out;
    }

    int opened(OpenFile& file) override
    {
        auto session = std::make_unique<S>();
        session->open = file.id();
        file.state = std::move(session);
        return 0;
    }

    // Every session as put writes it, "; " between them.
    std::string dump() const override
    {
        std::ostringstream os;
        for (S const* s : sessions()) {
            if (os.tellp() > 0)
                os << "; ";
            put(os, *s);
        }
        return os.str();
    }

protected:
    static S& of(OpenFile& file) { return static_cast<S&>(*file.state); }
    virtual void put(std::ostream& os, S const& session) const = 0;
};

}  // namespace board::sim
