#include "hardware/board_devices.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <sstream>

namespace {

TEST(BoardDevices, PathsOfTheDrivers)
{
    EXPECT_STREQ(GetVoiceDevName(), "/dev/voice");
    EXPECT_STREQ(GetMixerDevName(), "/dev/mixer");
    EXPECT_STREQ(GetDTMFDevName(), "/dev/dtmf");
    EXPECT_STREQ(GetDSPDevName(), "/dev/dsp");
    EXPECT_STREQ(GetRtpDevName(), "/dev/rtp");
    EXPECT_STREQ(GetRtpExtDevName(), "/dev/rtp_ext");
    EXPECT_STREQ(GetModemDevName(), "/dev/mctl");
    EXPECT_STREQ(GetMaintenance(), "/dev/maintenance");
    EXPECT_STREQ(GetSpiTdmDevName(), "/dev/spi_tdm");
}

TEST(BoardDevices, CodecNames)
{
    char const* names[] = {"unknown", "g711", "g723", "g729", "tonec", "g711-rtp", "g729-rtp", "g723-rtp", "conf"};
    for (int i = 0; i < 9; ++i)
        EXPECT_STREQ(GetCodecAsStr(i), names[i]) << i;
    EXPECT_STREQ(GetCodecAsStr(9), "invalid");
    EXPECT_STREQ(GetCodecAsStr(-1), "invalid");
}

TEST(BoardDevices, RtpErrKeepsTheErrorOfItsMaking)
{
    errno = ENODEV;
    RtpErr e(3);
    errno = 0;
    EXPECT_EQ(e.code(), 3);
    EXPECT_EQ(e.error(), ENODEV);
    std::ostringstream os;
    os << e;
    EXPECT_EQ(os.str(), std::strerror(ENODEV));
}

TEST(BoardDevices, RecordPrinters)
{
    rtp_connection_params c{};
    c.packet_factor = 2;
    c.rx_pt = 8;
    c.tx_pt = 18;
    c.ssrc = 4000000000u;
    std::ostringstream os;
    os << c;
    EXPECT_EQ(os.str(), "rtp_connection_params\n packet_factor = 2\n rx_pt = 8\n tx_pt = 18\n ssrc = 4000000000\n");

    os.str("");
    os << rtp_channel_info{130, -1, -1, 0};
    EXPECT_EQ(os.str(), "rtp_channel_info\n tdm=130\n dev_no=-1\n chn=-1\n");

    os.str("");
    os << rtp_attach_session_params{7, 1234} << rtp_ext_attach_session_params{8, -1};
    EXPECT_EQ(os.str(),
              "rtp_attach_session_params\n fd_rtp = 7\n pid_rtp = 1234\n"
              "rtp_ext_attach_session_params\n fd_rtp = 8\n pid_rtp = -1\n");

    os.str("");
    os << rtp_ext_init_params{0x1337, 0, {0, 0, 0, 0}};
    EXPECT_EQ(os.str(), "rtp_ext_init_params\n etype = 4919\n");
}

TEST(BoardDevices, TraceOfAtMostTenFrames)
{
    testing::internal::CaptureStdout();
    print_trace();
    std::fflush(stdout);
    std::string out = testing::internal::GetCapturedStdout();
    unsigned frames = 0;
    ASSERT_EQ(std::sscanf(out.c_str(), "Obtained %u stack frames.\n", &frames), 1);
    EXPECT_GE(frames, 1u);
    EXPECT_LE(frames, 10u);
    std::size_t lines = 0;
    for (char ch : out)
        lines += ch == '\n';
    EXPECT_EQ(lines, frames + 1);
}

}  // namespace
