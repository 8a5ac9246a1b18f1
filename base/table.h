#pragma once

#include <ostream>
#include <sstream>
#include <string>
#include <vector>

namespace ext {

// A text table with fixed-width columns; cells are centred and cut to their column.
//
// Written one statement per line through a Sentry:
//   os << table << ext::delimeter;
//   os << table << ext::beginrow << "a" << ext::nextrow << 42 << ext::nextrow;
//   os << table << ext::delimeter;
// A Sentry that ends in the middle of a row completes it with blank cells.
class Table {
public:
    // Collects the text of one cell for the table on a stream.
    class Sentry {
    public:
        Sentry(std::ostream& os, Table& table) : os_(os), table_(table) {}
        Sentry(Sentry const&) = delete;
        Sentry& operator=(Sentry const&) = delete;
        ~Sentry() { table_.finalize(os_); }

        template <class V>
        Sentry const& put(V const& value) const
        {
            text_ << value;
            return *this;
        }
        // The collected text becomes the next cell.
        Sentry const& row() const;
        Sentry const& resetrow() const;
        Sentry const& delimeter() const;

    private:
        std::ostream& os_;
        Table& table_;
        mutable std::ostringstream text_;
    };

    Table() = default;
    template <class... W>
    explicit Table(int width, W... widths) : widths_{width, widths...}
    {
    }

    void add(int width) { widths_.push_back(width); }
    void init() { resetrow(); }
    void resetrow()
    {
        column_ = 0;
        rowOpen_ = false;
    }
    void row(std::ostream& os, std::string const& text);
    void finalize(std::ostream& os);
    void delimeter(std::ostream& os);
    void gap(std::ostream& os);

private:
    void line(std::ostream& os, char corner, char fill);

    std::vector<int> widths_;
    int column_ = 0;
    bool rowOpen_ = false;
};

inline Table::Sentry operator<<(std::ostream& os, Table& table) { return Table::Sentry(os, table); }

template <class V>
Table::Sentry const& operator<<(Table::Sentry const& s, V const& value)
{
    return s.put(value);
}

inline Table::Sentry const& operator<<(Table::Sentry const& s,
                                       Table::Sentry const& (*manipulator)(Table::Sentry const&))
{
    return manipulator(s);
}

// Manipulators: end the current cell, start a row, write a separator line.
Table::Sentry const& nextrow(Table::Sentry const& s);
Table::Sentry const& beginrow(Table::Sentry const& s);
Table::Sentry const& delimeter(Table::Sentry const& s);

}  // namespace ext
