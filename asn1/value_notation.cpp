#include "asn1/value_notation.h"

#include <new>
#include <sstream>

#include "asn1/avn_decoder.h"
#include "asn1/avn_encoder.h"

namespace ASN1 {

namespace {

// Sets a state bit; true when the stream's exception mask asks for an exception on it.
bool setState(std::ios& stream, std::ios_base::iostate bit) {
    try {
        stream.setstate(bit);
        return false;
    } catch (std::ios_base::failure const&) {
        return true;
    }
}

}  // namespace

void IOWrapper::do_it(std::ios& stream) {
    std::ios_base::iostate state = std::ios_base::goodbit;
    try {
        state = do_real_io();
    } catch (std::bad_alloc const&) {
        if (setState(stream, std::ios_base::badbit)) throw;
        return;
    } catch (...) {
        if (setState(stream, std::ios_base::failbit)) throw;
        return;
    }
    stream.setstate(state);
}

std::ios_base::iostate InserterWrapper::do_real_io() {
    std::ostream::sentry const ready(out_);
    return ready ? value_.print_on(out_) : std::ios_base::goodbit;
}

std::ios_base::iostate ExtractorWrapper::do_real_io() {
    std::istream::sentry const ready(in_);
    return ready ? value_.get_from(in_) : std::ios_base::goodbit;
}

std::ostream& operator<<(std::ostream& out, AbstractData const& value) { return g_inserter(out, value); }

std::istream& operator>>(std::istream& in, AbstractData& value) { return g_extractor(in, value); }

std::ios_base::iostate AbstractData::print_on(std::ostream& out) const {
    AVNEncoder encoder(out);
    return accept(encoder) ? std::ios_base::goodbit : std::ios_base::failbit;
}

std::string AbstractData::asValueNotation() const {
    std::ostringstream text;
    print_on(text);
    return text.str();
}

std::ios_base::iostate AbstractData::get_from(std::istream& in) {
    AVNDecoder decoder(in);
    return accept(decoder) ? std::ios_base::goodbit : std::ios_base::failbit;
}

bool AbstractData::setFromValueNotation(std::string const& text) {
    std::istringstream in(text);
    return get_from(in) == std::ios_base::goodbit;
}

}  // namespace ASN1
