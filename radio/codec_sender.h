#pragma once

// The comparison of the two radio codecs' records by what they are and who sent them: 0 for
// the same type from the same sender; -1 when a record is null; otherwise the first nonzero
// 32-bit difference b minus a of type, session_ssrc and session_addr.
template <class Record>
int compareRecordSender(Record const* a, Record const* b)
{
    if (a == nullptr || b == nullptr)
        return -1;
    if (int d = int(b->type - a->type))
        return d;
    if (int d = int(b->session_ssrc - a->session_ssrc))
        return d;
    return int(b->session_addr - a->session_addr);
}
