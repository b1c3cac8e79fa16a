// Decoding in the tests: a message text through MHA_decode_init and every
// object out of MHA_decode_extract, described so that runs compare.
#pragma once

#include "smime_test_support.h"

#include <functional>

namespace tarmin::test::smime {

// An object as text that compares across encode and decode.
inline std::string describe(const MhaObject *o) {
    auto t = [](const char *s) { return std::string(s ? s : ""); };
    switch (o->Type) {
    case MHA_OBJ_START: return "start";
    case MHA_OBJ_END: return "end";
    case MHA_OBJ_NESTED_START: return "nested " + std::to_string(o->NestedRenderingPosition);
    case MHA_OBJ_NESTED_END: return "nested end";
    case MHA_OBJ_BODY: return "body " + std::string(o->Body, o->BodyLength);
    case MHA_OBJ_HTML: return "html " + std::string(reinterpret_cast<char *>(o->HtmlData), o->HtmlLength);
    case MHA_OBJ_ATTACHMENT:
        return "attachment " + t(o->AttachName) + " id=" + t(o->AttachContentId) + " pos=" +
               std::to_string(o->AttachRenderingPosition) + " method=" + std::to_string(o->AttachMethod) +
               " len=" + std::to_string(o->AttachLength) + " data=" +
               std::to_string(std::hash<std::string>{}(std::string(reinterpret_cast<char *>(o->AttachData), o->AttachLength)));
    case MHA_OBJ_FROM: return "from " + t(o->FromTypeAddress) + "|" + t(o->FromName) + "|" + t(o->FromAddress);
    case MHA_OBJ_TO: return "to " + t(o->ToTypeAddress) + "|" + t(o->ToName) + "|" + t(o->ToAddress);
    case MHA_OBJ_CC: return "cc " + t(o->CcTypeAddress) + "|" + t(o->CcName) + "|" + t(o->CcAddress);
    case MHA_OBJ_DATE: return "date " + std::to_string(o->SendDate.dwHighDateTime) + ":" + std::to_string(o->SendDate.dwLowDateTime);
    case MHA_OBJ_SUBJECT: return "subject " + t(o->Subject);
    default: return "type " + std::to_string(o->Type);
    }
}

struct Decoded {
    int32_t rc = -1;
    uint32_t flags = 0;
    std::vector<std::string> objects;
    MhaResult *result = nullptr;
    std::string detail; // UTF-8
};

// Decodes and extracts everything; the caller releases d.result.
inline Decoded decode(MhaContext *ctx, const std::string &message, uint32_t flags_in = 0, int32_t *sign_status = nullptr) {
    Decoded d;
    MhaSmime in{};
    in.Data = reinterpret_cast<unsigned char *>(const_cast<char *>(message.data()));
    in.Length = static_cast<uint32_t>(message.size());
    d.flags = flags_in;
    d.rc = MHA_decode_init(ctx, &in, &d.flags, &d.result, nullptr);
    for (MhaObject *o = nullptr; MHA_decode_extract(ctx, &o) == 0 && o;) {
        d.objects.push_back(describe(o));
        MHA_object_free(ctx, o);
    }
    MHA_decode_final(ctx);
    if (d.result) {
        if (d.result->ResultDetail) d.detail = tarmin::cp::cp1251_to_utf8(d.result->ResultDetail);
        if (sign_status) *sign_status = d.result->SignStatus;
    }
    return d;
}

} // namespace tarmin::test::smime
