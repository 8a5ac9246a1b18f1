#include "base/trace_ctl.h"

#include "base/ini_file.h"

#include <iostream>

TraceCtl traces;

void TraceCtl::Configure(IniFile::Section& section)
{
    for (IniFile::SubSection& block : section)
        Configure(block);
}

void TraceCtl::Configure(IniFile::SubSection& block)
{
    IniFile::Reader reader("traces: ", std::cerr);
    *this = TraceCtl();
    reader.optional.add(&signalling.hdlc, "signalling.hdlc");
    reader.optional.add(&signalling.zarngw, "signalling.zarngw");
    reader.optional.add(&signalling.events, "signalling.events");
    reader.optional.add(&monitoring.internal, "monitoring.internal");
    reader(block);
}
