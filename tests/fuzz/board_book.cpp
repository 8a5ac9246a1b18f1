#include "tests/fuzz/board_book.h"

#include <algorithm>

namespace answers {

namespace {

bool listed(std::vector<std::string> const& paths, char const* path)
{
    return std::find(paths.begin(), paths.end(), path) != paths.end();
}

void list(std::vector<std::string>& paths, std::string const& path)
{
    if (std::find(paths.begin(), paths.end(), path) == paths.end())
        paths.push_back(path);
}

}  // namespace

void BoardBook::reset()
{
    entries_.clear();
    reading_.clear();
    read_.clear();
}

BoardBook::Entry const* BoardBook::find(Request request) const
{
    for (Entry const& e : entries_)
        if (e.number == request.number && e.path == request.path)
            return &e;
    return nullptr;
}

BoardBook::Entry& BoardBook::entry(std::string const& path, unsigned long number)
{
    if (Entry* known = find({path.c_str(), number}))
        return *known;
    entries_.push_back({path, number});
    return entries_.back();
}

void BoardBook::arm(std::string const& path, unsigned long number, int times)
{
    Entry& e = entry(path, number);
    auto const add = [times](unsigned& count) {
        if (times < 0 || count == kEvery)
            count = kEvery;
        else
            count = std::min<unsigned>(count + unsigned(times), kEvery - 1);
    };
    add(e.least);
    add(e.most);
}

void BoardBook::failReads(std::string const& path)
{
    list(reading_, path);
    list(read_, path);
}

void BoardBook::clear()
{
    for (Entry& e : entries_)
        e.least = e.most = 0;
    reading_.clear();
}

Fate BoardBook::fate(Request request) const
{
    Entry const* e = find(request);
    // A failure armed until cleared fails every request; with none left, a request passes
    // whatever took the others.
    if (e == nullptr || e->most == 0)
        return Fate::passes;
    if (e->least == kEvery)
        return Fate::fails;
    return e->loose || e->least == 0 ? Fate::unknown : Fate::fails;
}

Fate BoardBook::made(Request request)
{
    Fate const fated = fate(request);
    // Whether it failed or not, no more are left than one less.
    if (Entry* e = find(request); e != nullptr && e->least != kEvery) {
        e->least = e->least > 0 ? e->least - 1 : 0;
        e->most = e->most > 0 ? e->most - 1 : 0;
    }
    return fated;
}

void BoardBook::maybe(Request request)
{
    if (Entry* e = find(request); e != nullptr && e->least != kEvery && e->least > 0)
        --e->least;
}

void BoardBook::blur(Request request)
{
    if (Entry* e = find(request); e != nullptr && e->least != kEvery)
        e->least = 0;
}

void BoardBook::loose(Request request)
{
    Entry& e = entry(request.path, request.number);
    e.loose = true;
    if (e.least != kEvery)
        e.least = 0;
}

bool BoardBook::readsFail(char const* path) const { return listed(reading_, path); }

bool BoardBook::readsFailed(char const* path) const { return listed(read_, path); }

}  // namespace answers
