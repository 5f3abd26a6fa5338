#pragma once
// What the command-line tools share about their arguments: how a run ends that cannot go
// on (a message after the program's name on standard error, the usage after a wrong
// argument), and the names of the declicker's levels for their messages.

#include "engine/Declicker.h"

#include <cstdio>
#include <string>

class CToolExit
{
public:
    constexpr CToolExit(const char* szProgram, const char* szUsage) : m_szProgram(szProgram), m_szUsage(szUsage) {}

    // "PROGRAM: TEXT" and the usage; returns the status of a wrong argument, 2.
    int BadArgument(const std::string& strText) const
    {
        std::fprintf(stderr, "%s: %s\n%s", m_szProgram, strText.c_str(), m_szUsage);
        return 2;
    }
    // "PROGRAM: TEXT"; returns the status of a failure, 1.
    int Fail(const std::string& strText) const
    {
        std::fprintf(stderr, "%s: %s\n", m_szProgram, strText.c_str());
        return 1;
    }

private:
    const char* m_szProgram;
    const char* m_szUsage;
};

// "light, normal or strong": the levels a declicker option takes.
inline std::string DeclickLevelChoices()
{
    return std::string(DeclickLevelName(CDeclickLevel::Light)) + ", " + DeclickLevelName(CDeclickLevel::Normal) +
           " or " + DeclickLevelName(CDeclickLevel::Strong);
}
