// The remembered key numbers of the key-number prompt, kept in the settings
// store under the current user's key "Software\KELVORIA\common-M":
// "NumOfKeys" (how many), "0", "1", ... (the entries, oldest first) and
// "CurrentKey" (the last one confirmed). Texts are Windows-1251.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace tarmin::qzvoui {

inline constexpr const char *kKeyHistoryPath = "Software\\KELVORIA\\common-M";
inline constexpr std::size_t kKeyHistoryLimit = 10;

struct KeyHistory {
    std::vector<std::string> entries; // oldest first
    std::string current;
};

// What the store holds; a missing or damaged history reads as empty. At most
// kKeyHistoryLimit entries are read, whatever "NumOfKeys" claims.
KeyHistory loadKeyHistory();

// Confirms an entry: a new one (compared exactly) is added at the end, the
// oldest pushed out when the list is full; it becomes the current one.
void confirmKey(KeyHistory &history, const std::string &entry);

// Writes the whole history. false when the store refused a value.
bool saveKeyHistory(const KeyHistory &history);

} // namespace tarmin::qzvoui
