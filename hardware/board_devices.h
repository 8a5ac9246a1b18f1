#pragma once

#include "board/rtp.h"

#include <iosfwd>

// Paths of the board's driver devices. Open them through board::board().
char const* GetVoiceDevName();
char const* GetMixerDevName();
char const* GetDTMFDevName();
char const* GetDSPDevName();
char const* GetRtpDevName();
char const* GetRtpExtDevName();
char const* GetModemDevName();
char const* GetMaintenance();
char const* GetSpiTdmDevName();

// The name of a codec number of the voice drivers: "unknown", "g711", ... "conf";
// "invalid" outside 0..8.
char const* GetCodecAsStr(int codec);

// An RTP driver error: the errno of the moment it is made, and a code of the caller's.
class RtpErr {
public:
    explicit RtpErr(int code = 0);
    int code() const { return code_; }
    int error() const { return error_; }
    // Writes the text of the error number.
    void Put(std::ostream& os) const;

private:
    int code_;
    int error_;
};

std::ostream& operator<<(std::ostream& os, RtpErr const& e);

// Writes a backtrace of at most 10 frames to the standard output.
void print_trace();

// The RTP driver records for the logs: the record's name, then one field a line.
std::ostream& operator<<(std::ostream& os, rtp_connection_params const& p);
std::ostream& operator<<(std::ostream& os, rtp_channel_info const& p);
std::ostream& operator<<(std::ostream& os, rtp_attach_session_params const& p);
std::ostream& operator<<(std::ostream& os, rtp_ext_attach_session_params const& p);
std::ostream& operator<<(std::ostream& os, rtp_ext_init_params const& p);
