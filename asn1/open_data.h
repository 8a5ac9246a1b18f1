#pragma once

#include <cassert>
#include <memory>
#include <vector>

#include "asn1/abstract_data.h"

namespace ASN1 {

// An open type: a held value (owned, may be null) and the held raw octets (owned, may be
// null) that a decoder stores for a later pass.
class OpenData : public Concrete<OpenData, AbstractData> {
public:
    static InfoType const theInfo;

    explicit OpenData(void const* info = &theInfo) : Concrete(info) {}
    // Takes ownership of the value.
    OpenData(AbstractData* value, void const* info) : Concrete(info), data_(value) {}
    // Same record; a clone of the value and a copy of the octets, each when held.
    OpenData(OpenData const& other);
    OpenData& operator=(OpenData const& other);
    void swap(OpenData& other);

    static AbstractData* create(void const* info);

    bool has_data() const { return data_ != nullptr; }
    AbstractData& get_data() {
        assert(data_);
        return *data_;
    }
    AbstractData const& get_data() const {
        assert(data_);
        return *data_;
    }
    bool has_buf() const { return buf_ != nullptr; }
    std::vector<char>& get_buf() {
        assert(buf_);
        return *buf_;
    }
    std::vector<char> const& get_buf() const {
        assert(buf_);
        return *buf_;
    }
    // Takes ownership of the octet buffer (null allowed), deleting the one held unless it is
    // the same.
    void grab(std::vector<char>* octets) {
        if (octets != buf_.get()) buf_.reset(octets);
    }
    bool isEmpty() const { return !data_ && !buf_; }
    // The held value's test; held octets alone are valid, an empty holder is not.
    bool isValid() const;
    bool isStrictlyValid() const;

protected:
    int do_compare(AbstractData const& other) const override;

private:
    std::unique_ptr<AbstractData> data_;
    std::unique_ptr<std::vector<char>> buf_;
};

// An open type whose value is of one contained type, named by its record. A const visitor
// sees it as an OpenData.
class TypeConstrainedOpenData : public Concrete<TypeConstrainedOpenData, OpenData> {
public:
    using InfoType = TypeConstrainedOpenInfo;

    // Takes ownership of the value.
    TypeConstrainedOpenData(AbstractData* value, void const* info) : Concrete(value, info) {}
    TypeConstrainedOpenData(TypeConstrainedOpenData const&) = default;
    TypeConstrainedOpenData& operator=(TypeConstrainedOpenData const&) = default;

    // A holder around a new value of the contained type.
    static AbstractData* create(void const* info);
};

}  // namespace ASN1
