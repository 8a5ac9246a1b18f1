#include "asn1/open_data.h"

#include <boost/polymorphic_cast.hpp>

namespace ASN1 {

OpenData::InfoType const OpenData::theInfo = {&OpenData::create, 0};

OpenData::OpenData(OpenData const& other)
    : Concrete(other),
      data_(other.data_ ? other.data_->clone() : nullptr),
      buf_(other.buf_ ? new std::vector<char>(*other.buf_) : nullptr) {}

OpenData& OpenData::operator=(OpenData const& other) {
    return detail::assignCopy(*this, other);
}

void OpenData::swap(OpenData& other) {
    data_.swap(other.data_);
    buf_.swap(other.buf_);
}

AbstractData* OpenData::create(void const* info) { return new OpenData(info); }

int OpenData::do_compare(AbstractData const& other) const {
    auto const& that = *boost::polymorphic_downcast<OpenData const*>(&other);
    if (data_ && that.data_) return data_->compare(*that.data_);
    if (buf_ && that.buf_)
        return lexicographic_compare_bytes(buf_->data(), buf_->data() + buf_->size(), that.buf_->data(),
                                           that.buf_->data() + that.buf_->size());
    if (isEmpty() && that.isEmpty()) return 0;
    return data_ ? 1 : -1;
}

AbstractData* TypeConstrainedOpenData::create(void const* info) {
    auto const* const record = static_cast<TypeConstrainedOpenInfo const*>(info);
    return new TypeConstrainedOpenData(AbstractData::create(record->containedInfo), info);
}

}  // namespace ASN1
