#pragma once
// The command-line tools run as a user runs them, for the tool tests: through the shell,
// with what they print and the status they end with.

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <string>
#include <vector>

namespace tooltest {

struct ToolRun {
    int nStatus = -1;       // the exit status; -1 when the tool did not end by itself
    std::string strOutput;  // standard output and error, as a terminal shows them
};

// Runs strProgram with strArgs (shell words, quoted by the caller).
inline ToolRun RunProgram(const std::string& strProgram, const std::string& strArgs)
{
    ToolRun run;
    FILE* p = ::popen((strProgram + " " + strArgs + " 2>&1").c_str(), "r");
    EXPECT_NE(p, nullptr) << strProgram;
    if (p == nullptr) return run;
    char sz[4096];
    for (size_t n; (n = std::fread(sz, 1, sizeof sz, p)) > 0;) run.strOutput.append(sz, n);
    const int nStatus = ::pclose(p);
    run.nStatus = WIFEXITED(nStatus) ? WEXITSTATUS(nStatus) : -1;
    return run;
}

// One run of a table of runs: its arguments, the status it must end with and how its
// output must begin.
struct ToolStep {
    std::string strArgs;
    int nStatus;
    std::string strOutput;
};

// Runs the steps in order, each on what the ones before left.
inline void RunSteps(const std::string& strProgram, const std::vector<ToolStep>& steps)
{
    for (const ToolStep& step : steps) {
        const ToolRun run = RunProgram(strProgram, step.strArgs);
        EXPECT_EQ(run.nStatus, step.nStatus) << step.strArgs << "\n" << run.strOutput;
        EXPECT_EQ(run.strOutput.substr(0, step.strOutput.size()), step.strOutput) << step.strArgs;
    }
}

}  // namespace tooltest
