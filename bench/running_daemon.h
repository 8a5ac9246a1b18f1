#pragma once

// The daemon on the simulated board for a whole benchmark run: server-sim started once
// under a temporary root, with one controller on loopback.

#include "tests/controller_client.h"
#include "tests/daemon_launcher.h"

#include <chrono>
#include <optional>
#include <thread>

class RunningDaemon {
public:
    static RunningDaemon& instance()
    {
        static RunningDaemon daemon;
        return daemon;
    }

    bool ready() const { return ready_; }
    testsupport::ControllerClient& client() { return *client_; }

    // A new controller connection, ready when its ping is answered. A connection that
    // arrives before the daemon has seen the previous controller go is turned away, so it
    // is tried again.
    bool attach()
    {
        for (int attempt = 0; attempt < 200; ++attempt) {
            if (client_)
                client_->close();
            client_.emplace(testsupport::TcpClient::Waiting::Socket);
            // The trunk states and the power status that every controller gets.
            client_->skipSignal(ZGCP::Signal::trunkStatus::id);
            client_->skipSignal(ZGCP::Signal::power::id);
            if (!client_->connect(std::uint16_t(launcher_.port()), testsupport::DaemonLauncher::kTimeout))
                return false;
            ZGCP::Command const ping = testsupport::pingCommand();
            if (client_->send(testsupport::zgcpCommand(ping, 1)) && client_->receiveText(1000) == "seq=1 success")
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return false;
    }

    ~RunningDaemon()
    {
        if (client_)
            client_->close();
        launcher_.stop();
    }

private:
    RunningDaemon() : launcher_(GW_SERVER_SIM_BINARY)
    {
        ready_ = launcher_.start({launcher_.portOption()}) && attach();
    }

    testsupport::DaemonLauncher launcher_;
    std::optional<testsupport::ControllerClient> client_;
    bool ready_ = false;
};
