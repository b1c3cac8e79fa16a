#include "cryptoui/key_history.h"

#include "include/qzcom.h"

#include <algorithm>

namespace tarmin::qzvoui {

namespace {

// A text value, or nothing when it is absent or unreadable.
bool readText(const char *name, std::string &out) {
    char *text = nullptr;
    const bool ok = QZ_GetKeyString(kKeyHistoryPath, name, &text, "") == 0 && text;
    if (ok) out = text;
    QZ_Free(text);
    return ok;
}

} // namespace

KeyHistory loadKeyHistory() {
    KeyHistory h;
    QZ_DWORD count = 0;
    if (QZ_GetKeyDword(kKeyHistoryPath, "NumOfKeys", &count) != 0) count = 0;
    count = std::min<QZ_DWORD>(count, kKeyHistoryLimit);
    for (QZ_DWORD i = 0; i < count; ++i) {
        std::string entry;
        if (readText(std::to_string(i).c_str(), entry)) h.entries.push_back(entry);
    }
    readText("CurrentKey", h.current);
    return h;
}

void confirmKey(KeyHistory &history, const std::string &entry) {
    auto &list = history.entries;
    if (std::find(list.begin(), list.end(), entry) == list.end()) {
        while (list.size() >= kKeyHistoryLimit) list.erase(list.begin());
        list.push_back(entry);
    }
    history.current = entry;
}

bool saveKeyHistory(const KeyHistory &history) {
    bool ok = QZ_SetKeyDword(kKeyHistoryPath, "NumOfKeys", static_cast<QZ_DWORD>(history.entries.size()), 0) == 0;
    for (std::size_t i = 0; i < history.entries.size(); ++i)
        ok = QZ_SetKeyString(kKeyHistoryPath, std::to_string(i).c_str(), history.entries[i].c_str(), 0) == 0 && ok;
    return QZ_SetKeyString(kKeyHistoryPath, "CurrentKey", history.current.c_str(), 0) == 0 && ok;
}

} // namespace tarmin::qzvoui
