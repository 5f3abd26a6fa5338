#include "capture/TakeMark.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>
#include <fstream>

namespace TakeMark {

std::string PathFor(const std::string& strBasePath)
{
    const size_t nSlash = strBasePath.find_last_of('/');
    const std::string strDir = nSlash == std::string::npos ? "" : strBasePath.substr(0, nSlash + 1);
    const std::string strName = nSlash == std::string::npos ? strBasePath : strBasePath.substr(nSlash + 1);
    return strDir + "." + strName + ".cadenzo-take";
}

bool Write(const std::string& strBasePath)
{
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    const std::string strText = "take " + std::to_string(now.tv_sec) + "." + std::to_string(now.tv_nsec) +
                                " " + std::to_string(::getpid()) + "\n";
    int fd = ::open(PathFor(strBasePath).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) return false;
    // The mark's modification time is the take's start: every song file of the take is
    // created or truncated after it.
    bool bOk = ::write(fd, strText.data(), strText.size()) == static_cast<ssize_t>(strText.size());
    bOk = ::fsync(fd) == 0 && bOk;
    return ::close(fd) == 0 && bOk;
}

std::string Read(const std::string& strBasePath)
{
    std::ifstream in(PathFor(strBasePath));
    std::string strLine;
    if (!in || !std::getline(in, strLine)) return {};
    return strLine;
}

}  // namespace TakeMark
