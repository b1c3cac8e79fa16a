// The shared libraries export what their public headers declare and nothing
// of their insides: every function of include/qzms.h and include/qzvoui.h can
// be found by name in its library (a declared but never defined function
// would only show when a caller links it), no undeclared C function is
// exported, and no internal C++ name leaks (the crypto UI library shows only
// the dialog hook that tests use).
#include "testsupport.h"

#include <gtest/gtest.h>

#include <dlfcn.h>

#include <regex>
#include <set>
#include <sstream>
#include <string>

using namespace tarmin::test;

namespace {

// Names of the functions a header declares with its export macro.
std::set<std::string> declared(const std::string &header, const std::string &macro) {
    std::string text = read_file(source_dir() / "include" / header);
    std::istringstream lines(text);
    std::string line, body;
    while (std::getline(lines, line))
        if (line.rfind("#define", 0) != 0) body += line + "\n";
    std::set<std::string> names;
    std::regex decl(macro + R"(\s+[^(;]*?\b(\w+)\s*\()");
    for (auto it = std::sregex_iterator(body.begin(), body.end(), decl); it != std::sregex_iterator(); ++it)
        names.insert((*it)[1]);
    return names;
}

std::string library(const std::string &name) {
    return (built_program("").parent_path().parent_path() / "lib" / ("lib" + name + ".so")).string();
}

// Dynamic symbols the library defines.
std::set<std::string> exported(const std::string &path) {
    std::string out, err;
    EXPECT_EQ(run({"nm", "-D", "--defined-only", path}, &out, &err), 0) << err;
    std::set<std::string> names;
    std::istringstream lines(out);
    std::string address, kind, name;
    while (lines >> address >> kind >> name) names.insert(name);
    return names;
}

bool is_c_name(const std::string &s) { return !s.empty() && s[0] != '_'; }

void check_library(const std::string &lib, const std::string &header, const std::string &macro,
                   const std::string &allowed_cxx_prefix, const std::set<std::string> &some_names) {
    std::set<std::string> names = declared(header, macro);
    // The header was read: a few names every version declares are there,
    // multi-line declarations included.
    for (const auto &n : some_names) ASSERT_TRUE(names.count(n)) << n << " not read from " << header;
    std::string path = library(lib);
    void *handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(handle, nullptr) << dlerror();
    for (const auto &n : names) EXPECT_NE(dlsym(handle, n.c_str()), nullptr) << n << " is declared but not exported";
    dlclose(handle);

    for (const auto &s : exported(path)) {
        if (is_c_name(s)) {
            EXPECT_TRUE(names.count(s)) << s << " is exported but not declared in " << header;
        }
        // Our own C++ names: only the allowed interface, never the internals.
        if (s.rfind("_ZN6tarmin", 0) == 0 || s.rfind("_ZTIN6tarmin", 0) == 0 || s.rfind("_ZTSN6tarmin", 0) == 0) {
            EXPECT_TRUE(!allowed_cxx_prefix.empty() && s.find(allowed_cxx_prefix) != std::string::npos)
                << s << " leaks from lib" << lib;
        }
    }
}

TEST(Exports, QzmsExportsItsHeaderAndNothingElse) {
    check_library("qzms", "qzms.h", "QZMS_API", "",
                  {"CCA_create_context", "CCA_check_mem_sep", "CCA_find_cert_by_address", "QZMS_SetMyCert"});
}

TEST(Exports, QzvouiExportsItsHeaderAndTheDialogHook) {
    check_library("qzvoui", "qzvoui.h", "QZVOUI_API", "6tarmin6qzvoui", {"TMN_UIGetReader", "TMN_UIMessageBox"});
}

} // namespace
