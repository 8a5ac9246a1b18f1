#pragma once

#include <vector>

#include "asn1/abstract_data.h"

namespace ASN1 {

// OBJECT IDENTIFIER: a list of 32-bit arcs.
class OBJECT_IDENTIFIER : public Concrete<OBJECT_IDENTIFIER, AbstractData> {
public:
    static InfoType const theInfo;

    explicit OBJECT_IDENTIFIER(void const* info = &theInfo) : Concrete(info) {}
    OBJECT_IDENTIFIER(OBJECT_IDENTIFIER const&) = default;
    OBJECT_IDENTIFIER& operator=(OBJECT_IDENTIFIER const&) = default;

    static AbstractData* create(void const* info);

    void append(unsigned arc) { arcs_.push_back(arc); }
    unsigned levels() const { return static_cast<unsigned>(arcs_.size()); }
    unsigned operator[](unsigned index) const { return arcs_[index]; }

    // The contents octets (X.690 8.19) into an empty vector: nothing for fewer than two
    // arcs; otherwise arc0 * 40 + arc1, then one subidentifier per further arc, each in
    // base 128 with bit 8 set in every octet but its last.
    void encodeCommon(std::vector<char>& octets) const;
    // Replaces the arcs by those of `count` contents octets. False for a subidentifier cut
    // short by the end of the octets, or one beyond 32 bits (the arcs read so far stay).
    bool decodeCommon(char const* octets, unsigned count);

    bool isValid() const { return !arcs_.empty(); }
    bool isStrictlyValid() const { return !arcs_.empty(); }

protected:
    int do_compare(AbstractData const& other) const override;

private:
    std::vector<unsigned> arcs_;
};

}  // namespace ASN1
