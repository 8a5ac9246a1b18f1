#include "control/service_unix.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <iostream>

namespace Control {

bool UnixAddress(std::string const& path, sockaddr_un& address)
{
    if (path.empty() || path.size() > max_socket_path) {
        std::cerr << "bad domain socket path \"" << path << "\": 1 to " << max_socket_path << " characters"
                  << std::endl;
        return false;
    }
    std::memset(&address, 0, sizeof address);
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.data(), path.size());
    return true;
}

void RemoveStaleSocket(std::string const& path)
{
    struct stat s;
    if (::lstat(path.c_str(), &s) == 0 && S_ISSOCK(s.st_mode))
        ::unlink(path.c_str());
}

}  // namespace Control
