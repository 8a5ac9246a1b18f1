#include "runtime/dpc.h"

#include "runtime/multiplexer.h"

void Dpc::Activate()
{
    if (active_)
        return;
    multiplexer.attach(this);
    active_ = true;
}

void Dpc::Deactivate()
{
    if (!active_)
        return;
    multiplexer.dettach(this);
    active_ = false;
}
