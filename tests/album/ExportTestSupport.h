#pragma once
// Exports made to their end for the export tests.

#include "album/Album.h"
#include "album/Export.h"

#include <gtest/gtest.h>

#include <string>

namespace albumtest {

// An export into strFolder in the given format, every other choice as it comes.
inline CExportOptions ExportTo(const std::string& strFolder, CExportFormat format = CExportFormat::Flac)
{
    CExportOptions options;
    options.strFolder = strFolder;
    options.format = format;
    return options;
}

// Exports the album and waits for the end; a failure when it did not start or did not
// succeed.
inline CExportReport RunExport(const CAlbum& album, const CExportOptions& options)
{
    CExportJob job;
    EXPECT_TRUE(job.Start(album.GetLayout(), options)) << job.GetReport().strError;
    job.Wait();
    EXPECT_FALSE(job.IsRunning());
    EXPECT_EQ(job.GetReport().strError, "");
    return job.GetReport();
}

}  // namespace albumtest
