#include "board/path.h"

#include <cstdlib>

namespace board {
namespace {

std::string& theRoot()
{
    static std::string root = [] {
        char const* env = std::getenv("GW_ROOT");
        std::string r = env ? env : "";
        while (r.size() > 1 && r.back() == '/')
            r.pop_back();
        return r == "/" ? std::string() : r;
    }();
    return root;
}

}  // namespace

std::string const& root() { return theRoot(); }

void setRoot(std::string root)
{
    while (!root.empty() && root.back() == '/')
        root.pop_back();
    theRoot() = std::move(root);
}

std::string path(char const* p)
{
    std::string const& r = theRoot();
    if (r.empty() || p == nullptr || p[0] != '/')
        return p ? std::string(p) : std::string();
    return r + p;
}

}  // namespace board
