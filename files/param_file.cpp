// Reading and applying the parameter file.

#include "files/param_file.h"

#include "app/res/resource.h"
#include "app/updater_dlg.h"
#include "platform/file.h"

#include <cstring>

int ReadParamFile(char* buffer) {
    platform::ReadOnlyFile file(kParamFileName);
    if (!file.IsOpen())
        return 0;
    std::memset(buffer, 0, kParamFileCapacity);
    // A file that does not fit with its terminating zero is cut rather than read past the buffer.
    const uint64_t size = file.Size();
    const size_t wanted = size < kParamFileCapacity ? static_cast<size_t>(size)
                                                    : static_cast<size_t>(kParamFileCapacity - 1);
    size_t count = 0;
    while (count < wanted) {
        const size_t got = file.Read(buffer + count, wanted - count);
        if (got == 0)
            break;
        count += got;
    }
    return static_cast<int>(count);
}

std::vector<std::string> ParamFileLines(const char* text) {
    const size_t length = strnlen(text, kParamFileCapacity - 1);
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < length) {
        const char* end = static_cast<const char*>(std::memchr(text + start, '\n', length - start));
        const size_t stop = end ? static_cast<size_t>(end - text) : length;
        if (stop > start)
            lines.emplace_back(text + start, stop - start);
        start = stop + 1;
    }
    return lines;
}

std::string ParamFileHeading(const char* text) {
    std::vector<std::string> lines = ParamFileLines(text);
    return lines.empty() ? std::string() : lines.front();
}

ParamFileChoice ParamFileChoices(const char* text) {
    const std::vector<std::string> lines = ParamFileLines(text);
    // Only the first character of the model and default-setting lines counts.
    return {lines.size() >= 2 && lines[1][0] == 'U' ? "KQ-B2" : "KQ-A2",
            lines.size() >= 3 && lines[2][0] == 'D'};
}

void CUpdaterDlg::ApplyParamFile(const char* text) {
    const ParamFileChoice choice = ParamFileChoices(text);
    SetDlgItemText(IDC_MODEL, choice.model);
    std::memcpy(m_szModel, choice.model, sizeof m_szModel);
    if (choice.defaultSetting) {
        ShowDlgItem(IDC_DEFAULT_SETTING, true);
        m_bDefaultSetting = 1;
    }
}
