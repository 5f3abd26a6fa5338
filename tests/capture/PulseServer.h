#pragma once
// A private PulseAudio server with a null sink, started and stopped by the test itself,
// and ALSA's default device reading a raw file at the server's pace.

#include "CaptureTestUtil.h"

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <string>
#include <thread>

namespace capturetest {

class CPulseServer
{
public:
    // Starts the server in a folder of its own; false (with the log) when it does not come up.
    bool Start(std::string* pstrLog)
    {
        m_strDir = MakeTempDir();
        m_strRaw = m_strDir + "/in.raw";
        const std::string strRun = m_strDir + "/run";
        mkdir(strRun.c_str(), 0700);
        const std::string strLog = m_strDir + "/pulse.log";
        m_pid = fork();
        if (m_pid == 0) {
            setenv("XDG_RUNTIME_DIR", strRun.c_str(), 1);
            setenv("HOME", m_strDir.c_str(), 1);
            if (freopen(strLog.c_str(), "w", stdout) && freopen(strLog.c_str(), "a", stderr)) {}
            execlp("pulseaudio", "pulseaudio", "-n", "--daemonize=no", "--exit-idle-time=-1",
                   "--use-pid-file=no", "--load=module-native-protocol-unix",
                   "--load=module-null-sink sink_name=ci rate=48000", static_cast<char*>(nullptr));
            _exit(127);
        }
        const std::string strSocket = strRun + "/pulse/native";
        struct stat st;
        for (int i = 0; i < 300 && stat(strSocket.c_str(), &st) != 0; ++i) {
            int nStatus = 0;
            if (waitpid(m_pid, &nStatus, WNOHANG) == m_pid) {
                m_pid = -1;
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        if (stat(strSocket.c_str(), &st) != 0) {
            std::ifstream log(strLog);
            if (pstrLog) pstrLog->assign(std::istreambuf_iterator<char>(log), std::istreambuf_iterator<char>());
            Stop();
            return false;
        }
        std::ofstream conf(m_strDir + "/asound.conf");
        conf << "pcm.!default {\n"
                "    type file\n"
                "    slave.pcm { type pulse device \"ci.monitor\" }\n"
                "    file \"/dev/null\"\n"
                "    infile \"" << m_strRaw << "\"\n"
                "    format \"raw\"\n"
                "}\n";
        conf.close();
        setenv("ALSA_CONFIG_PATH", (m_strDir + "/asound.conf").c_str(), 1);
        setenv("PULSE_SERVER", ("unix:" + strSocket).c_str(), 1);
        setenv("XDG_RUNTIME_DIR", strRun.c_str(), 1);
        setenv("JACK_NO_START_SERVER", "1", 1);
        return true;
    }

    void Stop()
    {
        if (m_pid > 0) {
            Freeze(false);
            kill(m_pid, SIGTERM);
            int nStatus = 0;
            waitpid(m_pid, &nStatus, 0);
            m_pid = -1;
        }
        if (!m_strDir.empty()) RemoveTree(m_strDir);
        m_strDir.clear();
    }

    ~CPulseServer() { Stop(); }

    const std::string& RawPath() const { return m_strRaw; }
    // Freezes the server (it stops calling back, as a hung sound server does) or thaws it.
    void Freeze(bool bFrozen) const
    {
        if (m_pid > 0) kill(m_pid, bFrozen ? SIGSTOP : SIGCONT);
    }

private:
    pid_t m_pid = -1;
    std::string m_strDir;
    std::string m_strRaw;
};

// Keeps every core busy in child processes until destroyed.
class CBusyCores
{
public:
    explicit CBusyCores(int nProcesses)
    {
        for (int i = 0; i < nProcesses; ++i) {
            const pid_t pid = fork();
            if (pid == 0) {
                volatile uint64_t n = 0;
                for (;;) n = n + 1;
            }
            if (pid > 0) m_pids.push_back(pid);
        }
    }
    ~CBusyCores()
    {
        for (pid_t pid : m_pids) {
            kill(pid, SIGKILL);
            int nStatus = 0;
            waitpid(pid, &nStatus, 0);
        }
    }

private:
    std::vector<pid_t> m_pids;
};

}  // namespace capturetest
