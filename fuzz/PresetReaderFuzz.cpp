// libFuzzer target for the preset file reader: any bytes must be read without a crash,
// a hang or an allocation beyond the input, and whatever is read must survive a write
// and a second read unchanged.

#include "settings/PresetFile.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

[[noreturn]] void Fail(const char* what)
{
    std::fprintf(stderr, "preset reader invariant broken: %s\n", what);
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    CPresetList list;
    const CPresetReadResult result = CPresetFile::ReadArchive(data, size, list);
    if (result.m_nRecords != list.GetSize())
        Fail("record count differs from the list");
    if (!result.m_bComplete && result.m_strReason.empty())
        Fail("an incomplete read without a reason");
    if (result.m_bComplete && !result.m_strReason.empty())
        Fail("a complete read with a reason");
    // Each record costs at least a 2-byte tag, a length byte and a 24-byte body.
    if (list.GetSize() > size / 27)
        Fail("more records than the input can hold");
    for (const auto& p : list) {
        if (!p || p->GetName().size() > size)
            Fail("an empty record or a name longer than the input");
    }

    const std::vector<uint8_t> written = CPresetFile::WriteArchive(list);
    CPresetList again;
    const CPresetReadResult second = CPresetFile::ReadArchive(written.data(), written.size(), again);
    if (!second.m_bComplete || again.GetSize() != list.GetSize())
        Fail("the written list does not read back");
    for (std::size_t i = 0; i < list.GetSize(); ++i) {
        if (again.GetAt(i)->GetName() != list.GetAt(i)->GetName() ||
            again.GetAt(i)->GetValues() != list.GetAt(i)->GetValues())
            Fail("a record changed in a write and read");
    }
    if (CPresetFile::WriteArchive(again) != written)
        Fail("writing is not stable");
    return 0;
}
