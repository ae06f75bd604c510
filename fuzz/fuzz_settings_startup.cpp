// Start-up over any Start_Up.ini: the whole of FormCreate on virtual time, in a folder of
// its own. Whatever the file holds, start-up completes and the window is built.
#include <cstddef>
#include <cstdint>
#include <fstream>

#include "fuzz/AppRig.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const auto dir = tc::fuzz::rigFolder("startup");
    std::ofstream(dir / "Start_Up.ini", std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(data), std::streamsize(size));

    tc::fuzz::AppRig rig(dir);
    const auto& form = *rig.form;
    if (form.RowCount < 1 || form.RowCount > 30 || form.ColumnCount < 1 || form.ColumnCount > 30)
        __builtin_trap();
    if (!form.RowRangeEdits[29] || !form.ColumnRangeEdits[29]) __builtin_trap();
    rig.form->SaveSettings();
    return 0;
}
