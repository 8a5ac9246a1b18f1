#include "hardware/board_devices.h"

#include "board/dsp.h"
#include "board/dtmf.h"
#include "board/voice.h"

#include <execinfo.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ostream>

char const* GetVoiceDevName() { return voice::kPath; }
char const* GetMixerDevName() { return "/dev/mixer"; }
char const* GetDTMFDevName() { return dtmf::kPath; }
char const* GetDSPDevName() { return dsp::kPath; }
char const* GetRtpDevName() { return rtp::kPath; }
char const* GetRtpExtDevName() { return rtp_ext::kPath; }
char const* GetModemDevName() { return "/dev/mctl"; }
char const* GetMaintenance() { return "/dev/maintenance"; }
char const* GetSpiTdmDevName() { return "/dev/spi_tdm"; }

char const* GetCodecAsStr(int codec)
{
    static char const* const names[] = {"unknown", "g711",     "g723",     "g729",    "tonec",
                                        "g711-rtp", "g729-rtp", "g723-rtp", "conf"};
    if (codec < 0 || codec >= int(sizeof names / sizeof names[0]))
        return "invalid";
    return names[codec];
}

RtpErr::RtpErr(int code) : code_(code), error_(errno) {}

void RtpErr::Put(std::ostream& os) const { os << std::strerror(error_); }

std::ostream& operator<<(std::ostream& os, RtpErr const& e)
{
    e.Put(os);
    return os;
}

void print_trace()
{
    void* frames[10];
    int n = ::backtrace(frames, 10);
    char** symbols = ::backtrace_symbols(frames, n);
    std::printf("Obtained %zd stack frames.\n", static_cast<ssize_t>(n));
    if (symbols) {
        for (int i = 0; i < n; ++i)
            std::printf("%s\n", symbols[i]);
        std::free(symbols);
    }
}

std::ostream& operator<<(std::ostream& os, rtp_connection_params const& p)
{
    return os << "rtp_connection_params\n"
              << " packet_factor = " << p.packet_factor << '\n'
              << " rx_pt = " << p.rx_pt << '\n'
              << " tx_pt = " << p.tx_pt << '\n'
              << " ssrc = " << p.ssrc << '\n';
}

std::ostream& operator<<(std::ostream& os, rtp_channel_info const& p)
{
    return os << "rtp_channel_info\n"
              << " tdm=" << p.tdm << '\n'
              << " dev_no=" << p.dev_no << '\n'
              << " chn=" << p.chn << '\n';
}

namespace {

template <class Attach>
std::ostream& putAttach(std::ostream& os, char const* name, Attach const& p)
{
    return os << name << '\n' << " fd_rtp = " << p.fd_rtp << '\n' << " pid_rtp = " << p.pid_rtp << '\n';
}

}  // namespace

std::ostream& operator<<(std::ostream& os, rtp_attach_session_params const& p)
{
    return putAttach(os, "rtp_attach_session_params", p);
}

std::ostream& operator<<(std::ostream& os, rtp_ext_attach_session_params const& p)
{
    return putAttach(os, "rtp_ext_attach_session_params", p);
}

std::ostream& operator<<(std::ostream& os, rtp_ext_init_params const& p)
{
    return os << "rtp_ext_init_params\n"
              << " etype = " << p.etype << '\n';
}
