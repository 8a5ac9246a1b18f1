#include "tests/tshark.h"

#include "tests/daemon_launcher.h"

#include <unistd.h>

#include <cstdlib>
#include <sstream>

namespace testsupport {

std::string findTool(std::string const& name)
{
    char const* path = std::getenv("PATH");
    std::istringstream dirs(std::string(path ? path : "") + ":/usr/sbin:/sbin");
    for (std::string dir; std::getline(dirs, dir, ':');)
        if (!dir.empty() && ::access((dir + "/" + name).c_str(), X_OK) == 0)
            return dir + "/" + name;
    return "";
}

bool tsharkFields(std::string const& capture, std::vector<std::string> const& fields,
                  std::vector<std::vector<std::string>>& rows, std::string& error,
                  std::vector<std::string> const& extra)
{
    rows.clear();
    DaemonLauncher tshark(findTool("tshark"), {});
    tshark.writeFile("/capture.pcap", capture);
    std::vector<std::string> args = {"-r", tshark.path("/capture.pcap"), "-T", "fields", "-E", "separator=/t"};
    args.insert(args.end(), extra.begin(), extra.end());
    for (std::string const& f : fields) {
        args.push_back("-e");
        args.push_back(f);
    }
    if (tshark.run(args) != 0) {
        error = tshark.err();
        return false;
    }
    std::istringstream lines(tshark.out());
    for (std::string line; std::getline(lines, line);) {
        std::vector<std::string> row;
        std::istringstream values(line);
        for (std::string value; std::getline(values, value, '\t');)
            row.push_back(value);
        row.resize(fields.size());
        rows.push_back(row);
    }
    return true;
}

}  // namespace testsupport
