#include "control/heart_beat_ctl.h"

#include <iostream>

HeartBeatCtl& HeartBeatCtl::instance()
{
    static HeartBeatCtl heartBeat;
    return heartBeat;
}

bool HeartBeatCtl::OnCommand(ZGCP::Command const& command)
{
    ResetTimeOut();
    if (!command.ping_isSelected())
        return false;
    Success();
    return true;
}

void HeartBeatCtl::ResetTimeOut() { timer_.set(timeout_ms, &HeartBeatCtl::OnHeartbeatTimeout, this); }

void HeartBeatCtl::OnHeartbeatTimeout(Timer*)
{
    std::clog << "heartbeat timeout!!!" << std::endl;
    // The server it is bound to: ctrlServer in the daemon.
    if (server())
        server()->OnHeartbeatTimeout();
}
