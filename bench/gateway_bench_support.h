// Set-up shared by the gateway benchmarks: a fresh root directory, our home
// as this process's TARMIN_HOME, both homes made from one test PKI.
#pragma once

#include "tests/gateway/gateway_harness.h"

#include <cstdio>
#include <cstdlib>

namespace tarmin::gwbench {

inline bool setUpPair(gwtest::Pair &p, const std::string &name) {
    char pattern[] = "/tmp/tmngw-bench-XXXXXX";
    if (!::mkdtemp(pattern)) return false;
    const gwtest::fs::path root = pattern;
    p.bin = GW_BIN_DIR;
    p.source = GW_SOURCE_DIR;
    p.ourHome = root / "our-home";
    ::setenv("TARMIN_HOME", p.ourHome.c_str(), 1);
    std::printf("%s: working in %s\n", name.c_str(), root.c_str());
    if (!p.setUp(root)) {
        std::fprintf(stderr, "%s: the homes could not be made:\n%s\n", name.c_str(),
                     gwtest::readAll(root / "setup.log").c_str());
        return false;
    }
    return QZ_Initialize("tarmin-operator", QZ_VERSION) == 0;
}

} // namespace tarmin::gwbench
