// A gateway's receiving side in a process of its own, for the tests that
// need a second, independent context (its own TARMIN_HOME and certificate):
//     smime_decode_probe MESSAGE_FILE
// decodes the message with the profile-less product settings of $TARMIN_HOME
// and prints the status, the result's statuses and names, and one line per
// object (UTF-8).
#include "common/codepage.h"
#include "include/qzcom.h"
#include "include/tmnsmime.h"

#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>

int main(int argc, char **argv) {
    if (argc != 2) {
        std::cerr << "usage: smime_decode_probe MESSAGE_FILE\n";
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    std::stringstream buffer;
    buffer << in.rdbuf();
    std::string message = buffer.str();
    if (QZ_Initialize("tarmin-operator", QZ_VERSION) != 0) return 3;
    MhaContext *ctx = nullptr;
    if (MHA_create_context(&ctx) != 0 || MHA_vcert_init(ctx) != 0) {
        QZ_ShowReports(nullptr, 1);
        MHA_close_context(ctx);
        QZ_Finalize();
        return 4;
    }
    auto utf8 = [](const char *s) { return tarmin::cp::cp1251_to_utf8(s ? s : ""); };
    MhaSmime smime{};
    smime.Data = reinterpret_cast<unsigned char *>(message.data());
    smime.Length = static_cast<uint32_t>(message.size());
    uint32_t flags = 0;
    MhaResult *result = nullptr;
    int32_t rc = MHA_decode_init(ctx, &smime, &flags, &result, nullptr);
    std::cout << "rc " << rc << "\nflags " << flags << "\n";
    if (result)
        std::cout << "decrypt " << result->DecryptStatus << "\nsign " << result->SignStatus << "\nsigner "
                  << utf8(result->SignerName) << "\nfrom " << utf8(result->FromText) << "\n";
    for (MhaObject *o = nullptr; MHA_decode_extract(ctx, &o) == 0 && o;) {
        std::cout << "object " << o->Type;
        if (o->Type == MHA_OBJ_ATTACHMENT)
            std::cout << " " << utf8(o->AttachName) << " " << std::string(reinterpret_cast<char *>(o->AttachData), o->AttachLength);
        if (o->Type == MHA_OBJ_SUBJECT) std::cout << " " << utf8(o->Subject);
        std::cout << "\n";
        MHA_object_free(ctx, o);
    }
    MHA_decode_final(ctx);
    MHA_result_free(ctx, result);
    MHA_vcert_final(ctx);
    MHA_close_context(ctx);
    QZ_ClearReports(2);
    QZ_Finalize();
    return 0;
}
