#include "base/table.h"

namespace ext {

Table::Sentry const& Table::Sentry::row() const
{
    table_.row(os_, text_.str());
    text_.str(std::string());
    return *this;
}

Table::Sentry const& Table::Sentry::resetrow() const
{
    table_.resetrow();
    return *this;
}

Table::Sentry const& Table::Sentry::delimeter() const
{
    table_.delimeter(os_);
    return *this;
}

void Table::row(std::ostream& os, std::string const& text)
{
    int const n = static_cast<int>(widths_.size());
    if (column_ >= n)
        return;
    rowOpen_ = true;
    int const w = widths_[static_cast<std::size_t>(column_)];
    std::string const cell = text.substr(0, static_cast<std::size_t>(w < 0 ? 0 : w));
    int const pad = w - static_cast<int>(cell.size());
    os << '|' << std::string(static_cast<std::size_t>(pad / 2), ' ') << cell
       << std::string(static_cast<std::size_t>((pad + 1) / 2), ' ');
    if (++column_ == n) {
        os << '|' << std::endl;
        rowOpen_ = false;
    }
}

void Table::finalize(std::ostream& os)
{
    while (rowOpen_ && column_ < static_cast<int>(widths_.size()))
        row(os, " ");
}

void Table::line(std::ostream& os, char corner, char fill)
{
    finalize(os);
    if (widths_.empty())
        return;
    for (int w : widths_)
        os << corner << std::string(static_cast<std::size_t>(w < 0 ? 0 : w), fill);
    os << corner << std::endl;
}

void Table::delimeter(std::ostream& os) { line(os, '+', '-'); }

void Table::gap(std::ostream& os) { line(os, '|', ' '); }

Table::Sentry const& nextrow(Table::Sentry const& s) { return s.row(); }
Table::Sentry const& beginrow(Table::Sentry const& s) { return s.resetrow(); }
Table::Sentry const& delimeter(Table::Sentry const& s) { return s.delimeter(); }

}  // namespace ext
