// tmnreg: query, set, delete, export and import the Tarmin settings store.
// Texts are shown and taken in UTF-8 and stored in Windows-1251.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "common/codepage.h"
#include "common/settings.h"
#include "qzcom.h"

namespace {

enum Exit { kOk = 0, kNotFound = 1, kUsage = 2, kFailed = 3 };

constexpr const char *kExportHeader = "Tarmin registry export 1";

const char *kHelp =
    "Usage: tmnreg COMMAND ...\n"
    "  or:  tmnreg --help | --version\n"
    "Reads and writes the Tarmin settings store.\n"
    "\n"
    "Commands:\n"
    "  query KEY [NAME]              show the values and sub-keys of KEY, or one value\n"
    "  set KEY NAME TYPE VALUE       write a value; TYPE is dword (a number, decimal or 0x\n"
    "                                hexadecimal, 0 to 4294967295), string (a text), expand (a\n"
    "                                text whose %VAR% references are expanded on reading) or\n"
    "                                binary (hexadecimal bytes: \"30 0a ff\", \"30,0a,ff\", \"300aff\")\n"
    "  delete KEY [NAME]             delete KEY with all its sub-keys, or one value of KEY\n"
    "  export KEY [FILE]             write KEY and everything below it to FILE (default or '-': stdout)\n"
    "  import FILE                   write the keys and values of an export ('-': stdin); the whole\n"
    "                                file is checked before anything is written\n"
    "\n"
    "KEY is a path below HKEY_CURRENT_USER with '\\' between its parts, for example\n"
    "  Software\\KELVORIA\\tarmin-operator\\Profiles\\demo\n"
    "Key paths and value names ignore letter case. Texts are given and shown in UTF-8 and kept\n"
    "in Windows-1251: a character that Windows-1251 lacks is refused.\n"
    "The store is $TARMIN_HOME/registry.db (TARMIN_HOME defaults to $XDG_DATA_HOME/tarmin, else\n"
    "~/.local/share/tarmin). With TARMIN_REGISTRY_READONLY=1 it is opened read-only.\n"
    "\n"
    "Export format (UTF-8 text): the line \"Tarmin registry export 1\", then for each key a line\n"
    "[KEY] followed by its values, one per line:\n"
    "  \"NAME\"=dword:0000001e          a number, 8 hexadecimal digits\n"
    "  \"NAME\"=\"text\"                 a text\n"
    "  \"NAME\"=expand:\"%TEMP%\\\\x\"     a text with environment references\n"
    "  \"NAME\"=hex:00,01,ff            binary bytes\n"
    "Inside quotes \\\\ is a backslash, \\\" a quote, \\n \\r \\t a line feed, carriage return and tab,\n"
    "and \\xHH the Windows-1251 byte HH (for bytes that have no character). Empty lines and lines\n"
    "beginning with ';' are ignored. An export read back with import restores the same keys and\n"
    "values, byte for byte.\n"
    "\n"
    "There are no options: an argument that begins with \"--\" is refused, unless it follows\n"
    "a \"--\" argument (tmnreg set -- KEY NAME string --text).\n"
    "\n"
    "Exit status: 0 done, 1 key or value not found, 2 bad command line or input,\n"
    "3 the store cannot be opened or written.\n";

int fail(int code, const std::string &message) {
    std::cerr << "tmnreg: " << message << "\n";
    return code;
}

// A text from the command line or a file, for the store: exact or refused.
std::optional<std::string> to_store(const std::string &utf8) {
    std::string out;
    if (!tarmin::cp::try_utf8_to_cp1251(utf8, out)) return std::nullopt;
    return out;
}

// A text of the store for the terminal (key paths and names never hold
// bytes without a character: the store refuses them).
std::string to_user(const std::string &cp1251) { return tarmin::cp::cp1251_to_utf8(cp1251); }

struct Value {
    QZ_DWORD type = 0;
    std::string data; // texts without their terminator
};

bool is_text(QZ_DWORD type) { return type == QZ_REG_SZ || type == QZ_REG_EXPAND_SZ; }

// One value, or nothing when it is absent.
std::optional<Value> read_value(const std::string &key, const std::string &name) {
    std::string buf(4096, '\0');
    for (;;) {
        QZ_DWORD len = static_cast<QZ_DWORD>(buf.size()), type = 0;
        // A default of type 0 tells an absent value from an empty one.
        int rc = QZ_GetKeyValue(key.c_str(), name.c_str(), buf.data(), &len, &type, nullptr, 0, 0, 0);
        if (rc != 0 && len > buf.size()) {
            buf.resize(len); // too small: the store said how much it needs
            continue;
        }
        if (rc != 0 || type == 0) return std::nullopt;
        buf.resize(len);
        if (is_text(type) && !buf.empty() && buf.back() == '\0') buf.pop_back();
        return Value{type, buf};
    }
}

// ---- The quoted texts of the export format -------------------------------

std::string quote(const std::string &cp1251) {
    std::string out = "\"";
    for (char ch : cp1251) {
        auto b = static_cast<unsigned char>(ch);
        char32_t c = tarmin::cp::from_cp1251(b);
        switch (ch) {
        case '\\': out += "\\\\"; continue;
        case '"': out += "\\\""; continue;
        case '\n': out += "\\n"; continue;
        case '\r': out += "\\r"; continue;
        case '\t': out += "\\t"; continue;
        default: break;
        }
        if (b < 0x20 || b == 0x7F || c == 0xFFFD) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02x", b);
            out += hex;
        } else {
            tarmin::cp::append_utf8(out, c);
        }
    }
    return out + "\"";
}

int hex_digit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Reads a quoted text starting at pos (at the opening quote) into
// Windows-1251; pos ends after the closing quote. The reason when it cannot.
std::optional<std::string> unquote(const std::string &line, size_t &pos, std::string &why) {
    if (pos >= line.size() || line[pos] != '"') {
        why = "a quoted text was expected";
        return std::nullopt;
    }
    std::string out, plain; // plain: UTF-8 collected up to the next escape
    auto flush = [&] {
        auto converted = to_store(plain);
        plain.clear();
        if (!converted) {
            why = "a character that Windows-1251 lacks";
            return false;
        }
        out += *converted;
        return true;
    };
    for (++pos; pos < line.size(); ++pos) {
        char c = line[pos];
        if (c == '"') {
            ++pos;
            if (!flush()) break;
            return out;
        }
        if (c != '\\') {
            plain.push_back(c);
            continue;
        }
        if (!flush()) break;
        if (++pos >= line.size()) break;
        switch (line[pos]) {
        case '\\': out.push_back('\\'); break;
        case '"': out.push_back('"'); break;
        case 'n': out.push_back('\n'); break;
        case 'r': out.push_back('\r'); break;
        case 't': out.push_back('\t'); break;
        case 'x': {
            int hi = pos + 1 < line.size() ? hex_digit(line[pos + 1]) : -1;
            int lo = pos + 2 < line.size() ? hex_digit(line[pos + 2]) : -1;
            if (hi < 0 || lo < 0) {
                why = "\\x needs two hexadecimal digits";
                return std::nullopt;
            }
            out.push_back(static_cast<char>(hi << 4 | lo));
            pos += 2;
            break;
        }
        default: why = std::string("unknown escape \\") + line[pos]; return std::nullopt;
        }
    }
    if (why.empty()) why = "the closing quote is missing";
    return std::nullopt;
}

// ---- Values on the command line and in exports ---------------------------

std::string hex_bytes(const std::string &data) {
    std::string out;
    char buf[4];
    for (size_t i = 0; i < data.size(); ++i) {
        std::snprintf(buf, sizeof buf, i ? ",%02x" : "%02x", static_cast<unsigned char>(data[i]));
        out += buf;
    }
    return out;
}

// Hexadecimal bytes, in groups of whole bytes separated by ',', ' ' or ':'.
std::optional<std::string> parse_hex(const std::string &text) {
    std::string out;
    size_t group = 0;
    for (size_t i = 0; i <= text.size(); ++i) {
        char c = i < text.size() ? text[i] : ' ';
        if (c == ',' || c == ' ' || c == ':') {
            if (group % 2) return std::nullopt;
            group = 0;
            continue;
        }
        if (hex_digit(c) < 0) return std::nullopt;
        if (++group % 2 == 0) out.push_back(static_cast<char>(hex_digit(text[i - 1]) << 4 | hex_digit(c)));
    }
    return out;
}

std::optional<QZ_DWORD> parse_dword(const std::string &text) {
    bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    std::string digits = hex ? text.substr(2) : text;
    if (digits.empty() || digits.size() > 20) return std::nullopt;
    unsigned long long v = 0;
    for (char c : digits) {
        int d = hex ? hex_digit(c) : (c >= '0' && c <= '9' ? c - '0' : -1);
        if (d < 0) return std::nullopt;
        v = v * (hex ? 16 : 10) + static_cast<unsigned>(d);
        if (v > 0xFFFFFFFFull) return std::nullopt;
    }
    return static_cast<QZ_DWORD>(v);
}

std::string dword_bytes(QZ_DWORD d) {
    return {char(d & 0xFF), char(d >> 8 & 0xFF), char(d >> 16 & 0xFF), char(d >> 24 & 0xFF)};
}

QZ_DWORD dword_of(const std::string &b) {
    QZ_DWORD d = 0;
    for (int i = 3; i >= 0; --i) d = d << 8 | static_cast<unsigned char>(b[static_cast<size_t>(i)]);
    return d;
}

// One value as it follows "NAME"= in an export or a query.
std::string format_value(const Value &v) {
    char buf[32];
    switch (v.type) {
    case QZ_REG_DWORD:
        if (v.data.size() != 4) break;
        std::snprintf(buf, sizeof buf, "dword:%08x", dword_of(v.data));
        return buf;
    case QZ_REG_SZ: return quote(v.data);
    case QZ_REG_EXPAND_SZ: return "expand:" + quote(v.data);
    case QZ_REG_BINARY: return "hex:" + hex_bytes(v.data);
    default: break;
    }
    std::snprintf(buf, sizeof buf, "hex(%u):", v.type);
    return buf + hex_bytes(v.data);
}

std::optional<Value> parse_export_value(const std::string &text, std::string &why) {
    auto starts = [&](const char *p) { return text.rfind(p, 0) == 0; };
    if (starts("dword:")) {
        std::string digits = text.substr(6);
        auto d = digits.size() == 8 ? parse_dword("0x" + digits) : std::nullopt;
        if (!d) why = "dword: needs 8 hexadecimal digits";
        return d ? std::optional<Value>(Value{QZ_REG_DWORD, dword_bytes(*d)}) : std::nullopt;
    }
    if (starts("hex")) {
        QZ_DWORD type = QZ_REG_BINARY;
        size_t colon = text.find(':');
        if (colon != 3) {
            // hex(N): a value of another type, written as its bytes
            auto n = colon != std::string::npos && text[3] == '(' && text[colon - 1] == ')'
                         ? parse_dword(text.substr(4, colon - 5))
                         : std::nullopt;
            if (!n || *n < QZ_REG_SZ || *n > QZ_REG_DWORD) {
                why = "unknown value type";
                return std::nullopt;
            }
            type = *n;
        }
        auto b = colon != std::string::npos ? parse_hex(text.substr(colon + 1)) : std::nullopt;
        if (!b) why = "hex: needs bytes as hexadecimal pairs separated by ','";
        if (b && type == QZ_REG_DWORD && b->size() != 4) why = "a dword has 4 bytes";
        if (!b || !why.empty()) return std::nullopt;
        return Value{type, *b};
    }
    QZ_DWORD type = QZ_REG_SZ;
    size_t pos = 0;
    if (starts("expand:")) {
        type = QZ_REG_EXPAND_SZ;
        pos = 7;
    }
    auto s = unquote(text, pos, why);
    if (s && pos != text.size()) why = "text after the closing quote";
    if (!s || !why.empty()) return std::nullopt;
    return Value{type, *s};
}

std::optional<Value> value_from_command_line(const std::string &type, const std::string &text) {
    if (type == "dword") {
        auto d = parse_dword(text);
        if (!d) return std::nullopt;
        return Value{QZ_REG_DWORD, dword_bytes(*d)};
    }
    if (type == "string" || type == "expand") {
        auto s = to_store(text);
        if (!s) return std::nullopt;
        return Value{type == "string" ? QZ_REG_SZ : QZ_REG_EXPAND_SZ, *s};
    }
    if (type == "binary") {
        auto b = parse_hex(text);
        if (!b) return std::nullopt;
        return Value{QZ_REG_BINARY, *b};
    }
    return std::nullopt;
}

// ---- The store -------------------------------------------------------------

int write_failure(const std::string &what) {
    return fail(kFailed, QZ_IsReadOnly() ? "the settings store is read-only" : "cannot write " + what);
}

int write_value(const std::string &key, const std::string &name, const Value &v) {
    if (QZ_SetKeyBinary(key.c_str(), name.c_str(), v.data.data(), static_cast<QZ_DWORD>(v.data.size()), v.type,
                        0) != 0)
        return write_failure("\"" + to_user(name) + "\" in " + to_user(key));
    return kOk;
}

// Names of the sub-keys or values of a key, by index until the end.
template <typename Enum> bool list_names(Enum enumerate, std::vector<std::string> &out) {
    std::string name(QZ_MAX_KEY_PATH, '\0');
    for (QZ_DWORD i = 0;; ++i) {
        int rc = enumerate(i, name.data(), static_cast<QZ_DWORD>(name.size()));
        if (rc == 1) return true;
        if (rc != 0) return false;
        out.emplace_back(name.c_str());
    }
}

bool sub_keys(const std::string &key, std::vector<std::string> &out) {
    return list_names([&](QZ_DWORD i, char *b, QZ_DWORD n) { return QZ_RegEnumKey(key.c_str(), i, b, n); }, out);
}

bool value_names(const std::string &key, std::vector<std::string> &out) {
    return list_names(
        [&](QZ_DWORD i, char *b, QZ_DWORD n) { return QZ_RegEnumValue(key.c_str(), i, b, n, nullptr); }, out);
}

bool key_exists(const std::string &key) {
    QZ_HKEY k = nullptr;
    if (QZ_RegOpenKey(&k, key.c_str(), QZ_KEY_READ, nullptr) != 0) return false;
    QZ_RegCloseKey(k);
    return true;
}

// Writes the values of a key ([KEY] line first) and, when deep, its sub-keys.
bool write_key(const std::string &key, std::ostream &out, bool deep) {
    std::vector<std::string> names, subs;
    if (!value_names(key, names) || !sub_keys(key, subs)) return false;
    out << "[" << to_user(key) << "]\n";
    for (const auto &name : names) {
        auto v = read_value(key, name);
        if (!v) return false;
        out << quote(name) << "=" << format_value(*v) << "\n";
    }
    for (const auto &sub : subs) {
        std::string path = key.empty() ? sub : key + "\\" + sub;
        if (!deep)
            out << "[" << to_user(path) << "]\n";
        else if (!(out << "\n") || !write_key(path, out, true))
            return false;
    }
    return true;
}

struct KeyArgument {
    std::string key; // Windows-1251
    int error = kOk;
};

KeyArgument key_argument(const std::string &text, bool must_exist) {
    auto key = to_store(text);
    if (!key) return {"", fail(kUsage, "the key " + text + " has a character that Windows-1251 lacks")};
    if (must_exist && !key_exists(*key)) return {"", fail(kNotFound, "no key " + text)};
    return {*key, kOk};
}

// ---- Commands ----------------------------------------------------------------

int cmd_query(const std::vector<std::string> &a) {
    if (a.empty() || a.size() > 2) return fail(kUsage, "query needs KEY [NAME]");
    KeyArgument k = key_argument(a[0], true);
    if (k.error) return k.error;
    if (a.size() == 2) {
        auto name = to_store(a[1]);
        auto v = name ? read_value(k.key, *name) : std::nullopt;
        if (!v) return fail(kNotFound, "no value " + a[1] + " in " + a[0]);
        std::cout << quote(*name) << "=" << format_value(*v) << "\n";
        return kOk;
    }
    std::ostringstream text;
    if (!write_key(k.key, text, false)) return fail(kFailed, "cannot read " + a[0]);
    std::cout << text.str();
    return kOk;
}

int cmd_set(const std::vector<std::string> &a) {
    if (a.size() != 4) return fail(kUsage, "set needs KEY NAME TYPE VALUE");
    KeyArgument k = key_argument(a[0], false);
    if (k.error) return k.error;
    if (k.key.find_first_not_of('\\') == std::string::npos)
        return fail(kUsage, "set needs a KEY below HKEY_CURRENT_USER");
    auto name = to_store(a[1]);
    if (!name) return fail(kUsage, "the name " + a[1] + " has a character that Windows-1251 lacks");
    if (a[2] != "dword" && a[2] != "string" && a[2] != "expand" && a[2] != "binary")
        return fail(kUsage, "unknown type '" + a[2] + "' (dword, string, expand or binary)");
    auto v = value_from_command_line(a[2], a[3]);
    if (!v) {
        const char *expected = a[2] == "dword"    ? "a number from 0 to 4294967295 (decimal or 0x hexadecimal)"
                               : a[2] == "binary" ? "hexadecimal bytes such as \"30 0a ff\""
                                                  : "a text in characters that Windows-1251 has";
        return fail(kUsage, "'" + a[3] + "' is not a value of type " + a[2] + ": expected " + expected);
    }
    return write_value(k.key, *name, *v);
}

int cmd_delete(const std::vector<std::string> &a) {
    if (a.empty() || a.size() > 2) return fail(kUsage, "delete needs KEY [NAME]");
    KeyArgument k = key_argument(a[0], false);
    if (k.error) return k.error;
    if (a.size() == 2) {
        auto name = to_store(a[1]);
        int rc = name ? QZ_DeleteValue(k.key.c_str(), name->c_str()) : 1;
        if (rc == 1) return fail(kNotFound, "no value " + a[1] + " in " + a[0]);
        return rc == 0 ? kOk : write_failure(a[1] + " in " + a[0]);
    }
    if (k.key.find_first_not_of('\\') == std::string::npos)
        return fail(kUsage, "refusing to delete the whole store: name a KEY");
    if (!key_exists(k.key)) return fail(kNotFound, "no key " + a[0]);
    return QZ_DeleteKey(k.key.c_str(), 0) == 0 ? kOk : write_failure(a[0]);
}

int cmd_export(const std::vector<std::string> &a) {
    if (a.empty() || a.size() > 2) return fail(kUsage, "export needs KEY [FILE]");
    KeyArgument k = key_argument(a[0], true);
    if (k.error) return k.error;
    std::ostringstream text;
    text << kExportHeader << "\n\n";
    if (!write_key(k.key, text, true)) return fail(kFailed, "cannot read " + a[0]);
    if (a.size() == 1 || a[1] == "-") {
        std::cout << text.str() << std::flush;
        return std::cout ? kOk : fail(kFailed, "cannot write the export to standard output");
    }
    // Written beside the target and renamed, so that a failed export never
    // leaves a cut file in place of an earlier one.
    std::string temporary = a[1] + ".tmnreg-tmp";
    {
        std::ofstream f(temporary, std::ios::binary | std::ios::trunc);
        f << text.str();
        f.close();
        if (!f) {
            int err = errno;
            std::filesystem::remove(temporary);
            return fail(kFailed, "cannot write " + a[1] + ": " + std::strerror(err));
        }
    }
    if (std::rename(temporary.c_str(), a[1].c_str()) != 0) {
        int err = errno;
        std::filesystem::remove(temporary);
        return fail(kFailed, "cannot write " + a[1] + ": " + std::strerror(err));
    }
    return kOk;
}

struct Import {
    std::vector<std::string> keys;
    std::vector<std::pair<size_t, std::pair<std::string, Value>>> values; // key index, name, value
};

// Parses a whole export; the exit code of the first error, printed with its line.
int parse_import(std::istream &in, const std::string &file, Import &out) {
    std::string line;
    bool header = static_cast<bool>(std::getline(in, line));
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!header || line != kExportHeader)
        return fail(kUsage, file + ": not a tmnreg export (the first line must be '" + kExportHeader + "')");
    for (int number = 2; std::getline(in, line); ++number) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        auto bad = [&](const std::string &why) { return fail(kUsage, file + ":" + std::to_string(number) + ": " + why); };
        if (line.empty() || line[0] == ';') continue;
        if (line[0] == '[') {
            if (line.size() < 2 || line.back() != ']') return bad("a key line is [KEY]");
            auto key = to_store(line.substr(1, line.size() - 2));
            if (!key) return bad("the key has a character that Windows-1251 lacks");
            out.keys.push_back(*key);
            continue;
        }
        if (out.keys.empty()) return bad("a value before the first [KEY]");
        size_t pos = 0;
        std::string why;
        auto name = unquote(line, pos, why);
        if (!name) return bad("the value name: " + why);
        if (pos >= line.size() || line[pos] != '=') return bad("a value line is \"NAME\"=VALUE");
        auto v = parse_export_value(line.substr(pos + 1), why);
        if (!v) return bad(why);
        out.values.push_back({out.keys.size() - 1, {*name, *v}});
    }
    if (in.bad()) return fail(kFailed, "cannot read " + file + ": " + std::strerror(errno));
    return kOk;
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
    Import import;
    if (int rc = parse_import(*in, a[0] == "-" ? "stdin" : a[0], import)) return rc;
    for (const auto &k : import.keys) {
        QZ_HKEY h = nullptr;
        if (QZ_RegOpenKey(&h, k.c_str(), QZ_KEY_WRITE_READ, nullptr) != 0) return write_failure(to_user(k));
        QZ_RegCloseKey(h);
    }
    for (const auto &[index, named] : import.values)
        if (int rc = write_value(import.keys[index], named.first, named.second)) return rc;
    return kOk;
}

// A bad command line: the reason and the usage on standard error.
int usage_error(const std::string &message) {
    std::cerr << "tmnreg: " << message << "\n" << kHelp;
    return kUsage;
}

} // namespace

int main(int argc, char **argv) {
    std::vector<std::string> args;
    bool options_end = false;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (!options_end && a == "--") {
            options_end = true;
            continue;
        }
        if (!options_end && (a == "--help" || a == "-h" || (args.empty() && a == "help"))) {
            std::cout << kHelp;
            return kOk;
        }
        if (!options_end && a == "--version") {
            std::cout << "tmnreg " TARMIN_VERSION "\n";
            return kOk;
        }
        if (!options_end && a.rfind("--", 0) == 0) return usage_error("unknown option " + a);
        args.push_back(a);
    }
    if (args.empty()) {
        std::cerr << kHelp;
        return kUsage;
    }
    std::string command = args[0];
    args.erase(args.begin());
    int (*run)(const std::vector<std::string> &) = command == "query"    ? cmd_query
                                                   : command == "set"    ? cmd_set
                                                   : command == "delete" ? cmd_delete
                                                   : command == "export" ? cmd_export
                                                   : command == "import" ? cmd_import
                                                                         : nullptr;
    if (!run) return usage_error("unknown command '" + command + "'");
    if (QZ_Initialize("tarmin-operator", QZ_VERSION) != 0) {
        std::string why = tarmin::qzcom::settings_store_error();
        return fail(kFailed, why.empty() ? "cannot open the settings store " + tarmin::qzcom::settings_store_path()
                                         : why);
    }
    int rc = run(args);
    QZ_Finalize();
    return rc;
}
