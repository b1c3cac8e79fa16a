// tmnreg: query, set, delete, export and import the Tarmin settings store.
// Texts are shown and taken in UTF-8 and stored in Windows-1251.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "common/codepage.h"
#include "qzcom.h"

namespace {

enum Exit { kOk = 0, kNotFound = 1, kUsage = 2, kFailed = 3 };

constexpr const char *kExportHeader = "Tarmin registry export 1";
constexpr size_t kMaxValue = 1u << 20;

const char *kHelp =
    "usage: tmnreg COMMAND ...\n"
    "  query KEY [NAME]                 show the values and sub-keys of KEY, or one value\n"
    "  set KEY NAME TYPE VALUE          write a value; TYPE is dword (decimal or 0x hex),\n"
    "                                   string, expand (environment references expanded\n"
    "                                   on reading) or binary (hexadecimal bytes)\n"
    "  delete KEY [NAME]                delete KEY with its sub-keys, or one value\n"
    "  export KEY [FILE]                write KEY and everything below it (default: stdout)\n"
    "  import FILE                      read an export back ('-' for stdin)\n"
    "\n"
    "KEY is a path below HKEY_CURRENT_USER with '\\' between its parts, for example\n"
    "  Software\\KELVORIA\\tarmin-operator\\Profiles\\demo\n"
    "The store is $TARMIN_HOME/registry.db (default ~/.local/share/tarmin).\n"
    "\n"
    "Export format (UTF-8), one key per section:\n"
    "  Tarmin registry export 1\n"
    "  [KEY]\n"
    "  \"NAME\"=dword:0000001e\n"
    "  \"NAME\"=\"text with \\\\ and \\\" escaped\"\n"
    "  \"NAME\"=expand:\"%TEMP%\\\\\"\n"
    "  \"NAME\"=hex:00,01,ff\n"
    "Exit status: 0 done, 1 key or value not found, 2 bad command line or input, 3 store failure.\n";

std::string to_store(const std::string &utf8) { return tarmin::cp::utf8_to_cp1251(utf8); }
std::string to_user(const std::string &cp1251) { return tarmin::cp::cp1251_to_utf8(cp1251); }

int fail(int code, const std::string &message) {
    std::cerr << "tmnreg: " << message << "\n";
    return code;
}

struct Value {
    QZ_DWORD type = 0;
    std::string data;
};

std::optional<Value> read_value(const std::string &key, const std::string &name) {
    std::string buf(kMaxValue, '\0');
    QZ_DWORD len = static_cast<QZ_DWORD>(buf.size()), type = 0;
    const char none = 0;
    // A default of type 0 tells an absent value from an empty one.
    if (QZ_GetKeyValue(key.c_str(), name.c_str(), buf.data(), &len, &type, &none, 0, 0, 0) != 0 || type == 0)
        return std::nullopt;
    buf.resize(len);
    return Value{type, buf};
}

std::string quote(const std::string &text) {
    std::string out = "\"";
    for (char c : text) {
        if (c == '\\' || c == '"') out.push_back('\\');
        out.push_back(c);
    }
    return out + "\"";
}

std::string hex_bytes(const std::string &data, char sep) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (size_t i = 0; i < data.size(); ++i) {
        if (i && sep) out.push_back(sep);
        auto b = static_cast<unsigned char>(data[i]);
        out.push_back(digits[b >> 4]);
        out.push_back(digits[b & 15]);
    }
    return out;
}

// One value as an export line (without the name part).
std::string format_value(const Value &v) {
    switch (v.type) {
    case QZ_REG_DWORD: {
        QZ_DWORD d = 0;
        for (int i = 3; i >= 0 && v.data.size() == 4; --i) d = d << 8 | static_cast<unsigned char>(v.data[i]);
        char buf[32];
        std::snprintf(buf, sizeof buf, "dword:%08x", d);
        return buf;
    }
    case QZ_REG_SZ: return quote(to_user(v.data));
    case QZ_REG_EXPAND_SZ: return "expand:" + quote(to_user(v.data));
    default: return "hex:" + hex_bytes(v.data, ',');
    }
}

std::optional<std::string> parse_hex(const std::string &text) {
    std::string out, digits;
    for (char c : text) {
        if (std::isxdigit(static_cast<unsigned char>(c))) digits.push_back(c);
        else if (c != ',' && c != ' ' && c != ':') return std::nullopt;
    }
    if (digits.size() % 2) return std::nullopt;
    for (size_t i = 0; i < digits.size(); i += 2)
        out.push_back(static_cast<char>(std::stoi(digits.substr(i, 2), nullptr, 16)));
    return out;
}

std::optional<QZ_DWORD> parse_dword(const std::string &text, int base) {
    if (text.empty()) return std::nullopt;
    char *end = nullptr;
    errno = 0;
    unsigned long long v = std::strtoull(text.c_str(), &end, base);
    if (*end || errno || v > 0xFFFFFFFFull || text[0] == '-') return std::nullopt;
    return static_cast<QZ_DWORD>(v);
}

int write_value(const std::string &key, const std::string &name, const Value &v) {
    if (QZ_SetKeyBinary(key.c_str(), name.c_str(), v.data.data(), static_cast<QZ_DWORD>(v.data.size()), v.type,
                        0) != 0)
        return fail(kFailed, QZ_IsReadOnly() ? "the settings store is read-only" : "cannot write " + to_user(name));
    return kOk;
}

std::optional<Value> value_from_command_line(const std::string &type, const std::string &text) {
    if (type == "dword") {
        bool hex = text.rfind("0x", 0) == 0 || text.rfind("0X", 0) == 0;
        auto d = parse_dword(hex ? text.substr(2) : text, hex ? 16 : 10);
        if (!d) return std::nullopt;
        std::string b = {char(*d & 0xFF), char(*d >> 8 & 0xFF), char(*d >> 16 & 0xFF), char(*d >> 24 & 0xFF)};
        return Value{QZ_REG_DWORD, b};
    }
    if (type == "string") return Value{QZ_REG_SZ, to_store(text)};
    if (type == "expand") return Value{QZ_REG_EXPAND_SZ, to_store(text)};
    if (type == "binary") {
        auto b = parse_hex(text);
        if (!b) return std::nullopt;
        return Value{QZ_REG_BINARY, *b};
    }
    return std::nullopt;
}

std::vector<std::string> sub_keys(const std::string &key) {
    std::vector<std::string> out;
    char name[QZ_MAX_KEY_PATH];
    for (QZ_DWORD i = 0; QZ_RegEnumKey(key.c_str(), i, name, sizeof name) == 0; ++i) out.push_back(name);
    return out;
}

std::vector<std::string> value_names(const std::string &key) {
    std::vector<std::string> out;
    char name[QZ_MAX_KEY_PATH];
    for (QZ_DWORD i = 0; QZ_RegEnumValue(key.c_str(), i, name, sizeof name, nullptr) == 0; ++i) out.push_back(name);
    return out;
}

bool key_exists(const std::string &key) {
    QZ_HKEY k = nullptr;
    if (QZ_RegOpenKey(&k, key.c_str(), QZ_KEY_READ, nullptr) != 0) return false;
    QZ_RegCloseKey(k);
    return true;
}

void export_key(const std::string &key, std::ostream &out) {
    out << "\n[" << to_user(key) << "]\n";
    for (const auto &name : value_names(key))
        if (auto v = read_value(key, name)) out << quote(to_user(name)) << "=" << format_value(*v) << "\n";
    for (const auto &sub : sub_keys(key)) export_key(key + "\\" + sub, out);
}

int cmd_query(const std::vector<std::string> &a) {
    if (a.size() < 1 || a.size() > 2) return fail(kUsage, "query needs KEY [NAME]");
    std::string key = to_store(a[0]);
    if (!key_exists(key)) return fail(kNotFound, "no key " + a[0]);
    if (a.size() == 2) {
        auto v = read_value(key, to_store(a[1]));
        if (!v) return fail(kNotFound, "no value " + a[1] + " in " + a[0]);
        std::cout << quote(a[1]) << "=" << format_value(*v) << "\n";
        return kOk;
    }
    std::cout << "[" << a[0] << "]\n";
    for (const auto &name : value_names(key))
        if (auto v = read_value(key, name)) std::cout << quote(to_user(name)) << "=" << format_value(*v) << "\n";
    for (const auto &sub : sub_keys(key)) std::cout << "[" << a[0] << "\\" << to_user(sub) << "]\n";
    return kOk;
}

int cmd_set(const std::vector<std::string> &a) {
    if (a.size() != 4) return fail(kUsage, "set needs KEY NAME TYPE VALUE");
    auto v = value_from_command_line(a[2], a[3]);
    if (!v) return fail(kUsage, "'" + a[3] + "' is not a value of type " + a[2] + " (dword, string, expand, binary)");
    return write_value(to_store(a[0]), to_store(a[1]), *v);
}

int cmd_delete(const std::vector<std::string> &a) {
    if (a.size() < 1 || a.size() > 2) return fail(kUsage, "delete needs KEY [NAME]");
    std::string key = to_store(a[0]);
    if (QZ_IsReadOnly()) return fail(kFailed, "the settings store is read-only");
    if (a.size() == 2) {
        int rc = QZ_DeleteValue(key.c_str(), to_store(a[1]).c_str());
        if (rc == 1) return fail(kNotFound, "no value " + a[1] + " in " + a[0]);
        return rc == 0 ? kOk : fail(kFailed, "cannot delete " + a[1]);
    }
    if (!key_exists(key)) return fail(kNotFound, "no key " + a[0]);
    return QZ_DeleteKey(key.c_str(), 0) == 0 ? kOk : fail(kFailed, "cannot delete " + a[0]);
}

int cmd_export(const std::vector<std::string> &a) {
    if (a.size() < 1 || a.size() > 2) return fail(kUsage, "export needs KEY [FILE]");
    std::string key = to_store(a[0]);
    if (!key_exists(key)) return fail(kNotFound, "no key " + a[0]);
    std::ostringstream text;
    text << kExportHeader << "\n";
    export_key(key, text);
    if (a.size() == 1 || a[1] == "-") {
        std::cout << text.str();
        return kOk;
    }
    std::ofstream f(a[1], std::ios::binary | std::ios::trunc);
    f << text.str();
    f.close();
    return f ? kOk : fail(kFailed, "cannot write " + a[1] + ": " + std::strerror(errno));
}

// Reads a quoted text starting at pos (at the opening quote); pos ends after
// the closing quote.
std::optional<std::string> unquote(const std::string &line, size_t &pos) {
    if (pos >= line.size() || line[pos] != '"') return std::nullopt;
    std::string out;
    for (++pos; pos < line.size(); ++pos) {
        char c = line[pos];
        if (c == '"') {
            ++pos;
            return out;
        }
        if (c == '\\' && pos + 1 < line.size()) c = line[++pos];
        out.push_back(c);
    }
    return std::nullopt;
}

std::optional<Value> parse_export_value(const std::string &text) {
    size_t pos = 0;
    if (text.rfind("dword:", 0) == 0) return value_from_command_line("dword", "0x" + text.substr(6));
    if (text.rfind("hex:", 0) == 0) {
        auto b = parse_hex(text.substr(4));
        if (!b) return std::nullopt;
        return Value{QZ_REG_BINARY, *b};
    }
    QZ_DWORD type = QZ_REG_SZ;
    if (text.rfind("expand:", 0) == 0) {
        type = QZ_REG_EXPAND_SZ;
        pos = 7;
    }
    auto s = unquote(text, pos);
    if (!s || pos != text.size()) return std::nullopt;
    return Value{type, to_store(*s)};
}

int cmd_import(const std::vector<std::string> &a) {
    if (a.size() != 1) return fail(kUsage, "import needs FILE");
    std::ifstream file;
    std::istream *in = &std::cin;
    if (a[0] != "-") {
        file.open(a[0], std::ios::binary);
        if (!file) return fail(kFailed, "cannot read " + a[0] + ": " + std::strerror(errno));
        in = &file;
    }
    // Everything is checked before anything is written.
    std::string line, key;
    std::vector<std::pair<std::string, std::pair<std::string, Value>>> writes;
    std::vector<std::string> keys;
    int number = 0;
    if (!std::getline(*in, line) || line != kExportHeader)
        return fail(kUsage, a[0] + ": not a tmnreg export (first line must be '" + kExportHeader + "')");
    ++number;
    while (std::getline(*in, line)) {
        ++number;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty()) continue;
        auto bad = [&](const std::string &why) {
            return fail(kUsage, a[0] + ":" + std::to_string(number) + ": " + why);
        };
        if (line.front() == '[') {
            if (line.back() != ']' || line.size() < 3) return bad("a key line is [KEY]");
            key = to_store(line.substr(1, line.size() - 2));
            keys.push_back(key);
            continue;
        }
        if (key.empty()) return bad("a value before the first [KEY]");
        size_t pos = 0;
        auto name = unquote(line, pos);
        if (!name || pos >= line.size() || line[pos] != '=') return bad("a value line is \"NAME\"=VALUE");
        auto v = parse_export_value(line.substr(pos + 1));
        if (!v) return bad("unreadable value");
        writes.push_back({key, {to_store(*name), *v}});
    }
    for (const auto &k : keys) {
        QZ_HKEY h = nullptr;
        if (QZ_RegOpenKey(&h, k.c_str(), QZ_KEY_WRITE_READ, nullptr) != 0)
            return fail(kFailed, QZ_IsReadOnly() ? "the settings store is read-only" : "cannot create " + to_user(k));
        QZ_RegCloseKey(h);
    }
    for (const auto &[k, nv] : writes)
        if (int rc = write_value(k, nv.first, nv.second)) return rc;
    return kOk;
}

} // namespace

int main(int argc, char **argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty() || args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
        std::cout << kHelp;
        return args.empty() ? kUsage : kOk;
    }
    std::string command = args[0];
    args.erase(args.begin());
    if (QZ_Initialize("tarmin-operator", QZ_VERSION) != 0)
        return fail(kFailed, "cannot open the settings store ($TARMIN_HOME/registry.db)");
    int rc;
    if (command == "query") rc = cmd_query(args);
    else if (command == "set") rc = cmd_set(args);
    else if (command == "delete") rc = cmd_delete(args);
    else if (command == "export") rc = cmd_export(args);
    else if (command == "import") rc = cmd_import(args);
    else rc = fail(kUsage, "unknown command '" + command + "' (see tmnreg --help)");
    QZ_Finalize();
    return rc;
}
