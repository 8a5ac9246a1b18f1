#pragma once

namespace IniFile {
class Section;
class SubSection;
}  // namespace IniFile

// The process-wide trace switches, set from the "traces" section of the configuration
// file; every switch is off until configured.
class TraceCtl {
public:
    struct Signalling {
        Signalling() = default;
        bool hdlc = false;    // "signalling.hdlc": HDLC channels and HDLC link slots
        bool zarngw = false;  // "signalling.zarngw"
        bool events = false;  // "signalling.events": voice-processing events
    };
    struct Monitoring {
        Monitoring() = default;
        bool internal = false;  // "monitoring.internal": the monitoring part's own lines
    };

    TraceCtl() = default;

    // Applies every block of the section in file order, so the last block decides.
    void Configure(IniFile::Section& section);
    // Clears every switch, then reads the block's optional bool keys; a key that is
    // repeated or not a bool is reported on the error stream (prefix "traces: ") and its
    // switch stays off.
    void Configure(IniFile::SubSection& block);

    Signalling signalling;
    Monitoring monitoring;
};

extern TraceCtl traces;
