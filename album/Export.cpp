#include "album/Export.h"

#include <atomic>
#include <cstdio>
#include <mutex>
#include <thread>

struct CExportJob::Impl {
    std::thread thread;
    std::atomic<bool> bRunning{false};
    std::atomic<bool> bCancel{false};
    std::atomic<double> fProgress{0.0};
    mutable std::mutex mutex;
    CExportReport report;
};

CExportJob::CExportJob() : m_pImpl(new Impl) {}

CExportJob::~CExportJob()
{
    Cancel();
    Wait();
}

bool CExportJob::Start(const CAlbumLayout& /*layout*/, const CExportOptions& /*options*/,
                       std::function<void()> fnProgress)
{
    std::lock_guard<std::mutex> lock(m_pImpl->mutex);
    m_pImpl->report = CExportReport{};
    m_pImpl->report.strError = "Export is not available yet.";
    if (fnProgress) fnProgress();
    return false;
}

void CExportJob::Cancel() { m_pImpl->bCancel = true; }

void CExportJob::Wait()
{
    if (m_pImpl->thread.joinable()) m_pImpl->thread.join();
}

bool CExportJob::IsRunning() const { return m_pImpl->bRunning; }
double CExportJob::GetProgress() const { return m_pImpl->fProgress; }

CExportReport CExportJob::GetReport() const
{
    std::lock_guard<std::mutex> lock(m_pImpl->mutex);
    return m_pImpl->report;
}

std::string CExportJob::FileName(int32_t nNumber, const std::string& strTitle,
                                 const std::string& strFallback, CExportFormat format)
{
    std::string strName = strTitle.empty() ? strFallback : strTitle;
    std::string strSafe;
    for (unsigned char c : strName) {
        bool bBad = c < 0x20 || c == 0x7f || c == '/' || c == '\\' || c == ':' || c == '*' ||
                    c == '?' || c == '"' || c == '<' || c == '>' || c == '|';
        strSafe += bBad ? '_' : static_cast<char>(c);
    }
    while (!strSafe.empty() && (strSafe.back() == ' ' || strSafe.back() == '.')) strSafe.pop_back();
    char szNumber[16];
    std::snprintf(szNumber, sizeof szNumber, "%02d", nNumber);
    std::string strFile = szNumber;
    if (!strSafe.empty()) strFile += " " + strSafe;
    return strFile + (format == CExportFormat::Flac ? ".flac" : ".wav");
}
