#include "removal.h"
#include "common/text.h"
#include "res/resource.h"
#include <algorithm>
#include <climits>
#include <string>

namespace dv::ui {

bool ConfirmRemoval(HWND owner, const wchar_t* name, size_t more) {
    std::wstring text = more == 0 ? FormatText(LoadResString(IDS_CONFIRM_REMOVAL).c_str(), name ? name : L"")
                                   : FormatText(LoadResString(IDS_CONFIRM_REMOVAL_MANY).c_str(), name ? name : L"",
                                                static_cast<int>(std::min<size_t>(more, INT_MAX)));
    return ::MessageBoxW(owner, text.c_str(), L"Remove Item - Dirvane", MB_YESNO | MB_ICONEXCLAMATION) == IDYES;
}

} // namespace dv::ui
