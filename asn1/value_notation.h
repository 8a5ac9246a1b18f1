#pragma once

// The stream operators of the value notation: `out << value` prints a value as
// AVNEncoder does (the log lines use it), `in >> value` parses it with AVNDecoder.
// `out << text` of a character string (abstract_string.h) writes its characters as they
// are, without quotes.

#include <ios>
#include <istream>
#include <ostream>

#include "asn1/abstract_data.h"

namespace ASN1 {

// Runs one print or parse and adds the state it answers to the stream. An exception from
// it sets badbit (std::bad_alloc) or failbit (any other), and is passed on only when the
// stream's exception mask has that bit.
class IOWrapper {
public:
    virtual ~IOWrapper() = default;
    void do_it(std::ios& stream);

protected:
    virtual std::ios_base::iostate do_real_io() = 0;
};

class InserterWrapper : public IOWrapper {
public:
    InserterWrapper(std::ostream& out, AbstractData const& value) : out_(out), value_(value) {}

protected:
    // Prints through the stream's sentry; nothing when the sentry is not ready.
    std::ios_base::iostate do_real_io() override;

private:
    std::ostream& out_;
    AbstractData const& value_;
};

class ExtractorWrapper : public IOWrapper {
public:
    ExtractorWrapper(std::istream& in, AbstractData& value) : in_(in), value_(value) {}

protected:
    // Parses after the sentry has skipped leading white space.
    std::ios_base::iostate do_real_io() override;

private:
    std::istream& in_;
    AbstractData& value_;
};

template <class CharT, class Traits, class T>
std::basic_ostream<CharT, Traits>& g_inserter(std::basic_ostream<CharT, Traits>& out, T const& value) {
    if (out.good()) {
        InserterWrapper wrapper(out, value);
        wrapper.do_it(out);
    }
    return out;
}

template <class CharT, class Traits, class T>
std::basic_istream<CharT, Traits>& g_extractor(std::basic_istream<CharT, Traits>& in, T& value) {
    if (in.good()) {
        ExtractorWrapper wrapper(in, value);
        wrapper.do_it(in);
    }
    return in;
}

// Prints the value when the stream is good; a stream that is not is left untouched.
std::ostream& operator<<(std::ostream& out, AbstractData const& value);
// Parses the value when the stream is good.
std::istream& operator>>(std::istream& in, AbstractData& value);

}  // namespace ASN1
