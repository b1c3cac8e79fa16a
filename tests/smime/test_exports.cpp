// libtmnsmime.so exports exactly the functions include/tmnsmime.h declares:
// each declared name resolves, and nothing else of the library (no internal
// C or C++ name, nothing of the libraries linked into it) is exported.
#include "testsupport.h"

#include <gtest/gtest.h>

#include <dlfcn.h>

#include <regex>
#include <set>
#include <sstream>
#include <string>

using namespace tarmin::test;

namespace {

TEST(SmimeExports, TheSharedLibraryExportsItsHeaderAndNothingElse) {
    // The functions the header declares with its export macro.
    const std::string header = read_file(source_dir() / "include" / "tmnsmime.h");
    std::set<std::string> declared;
    const std::regex decl(R"(\nTMNSMIME_API\s+[^(;]*?\b(\w+)\s*\()");
    for (auto it = std::sregex_iterator(header.begin(), header.end(), decl); it != std::sregex_iterator(); ++it)
        declared.insert((*it)[1]);
    for (const char *n : {"MHA_create_context", "MHA_encode_add", "MHA_decode_extract_tmnfile", "DSS_check_note",
                          "DSS_free_verification", "DOP_koi8r_to_windows", "DOP_windows_to_koi8r"})
        ASSERT_TRUE(declared.count(n)) << n << " not read from the header";

    const std::string lib = (built_program("").parent_path().parent_path() / "lib" / "libtmnsmime.so").string();
    void *handle = dlopen(lib.c_str(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(handle, nullptr) << dlerror();
    for (const auto &n : declared) EXPECT_NE(dlsym(handle, n.c_str()), nullptr) << n << " is declared, not exported";
    dlclose(handle);

    std::string out, err;
    ASSERT_EQ(run({"nm", "-D", "--defined-only", lib}, &out, &err), 0) << err;
    std::istringstream lines(out);
    std::string address, kind, name;
    size_t count = 0;
    while (lines >> address >> kind >> name) {
        ++count;
        EXPECT_TRUE(declared.count(name)) << name << " is exported but not declared in tmnsmime.h";
    }
    EXPECT_EQ(count, declared.size());
}

} // namespace
