// The library context behind MhaContext: the host-visible head, then the
// private state of the certificate session, the encoder, the decoder and the
// notification text.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "include/tmnsmime.h"
#include "smime/workfile.h"

namespace tarmin::smime {

// Nesting levels 0..127.
constexpr int kLevels = 128;

// An owned copy of an address.
struct Address {
    std::string type, name, address;
    bool empty() const { return type.empty() && address.empty(); }
};

// One attachment signature waiting for the end of its level.
struct SignNode {
    std::string signer;
    std::string hash_text;
    int sequence = 0;         // 0: the kept text of a signature file the host passed
    std::string attach_name;  // in the output charset
    std::string signature;    // signature bytes, or the kept text for sequence 0
    int level = 0;
};

// Settings read before each message.
struct Settings {
    bool binary = false;               // OutputMessageFlags bit 16
    uint32_t archive_flags = 0;        // bit 0 out, bit 1 in, bit 2 stamped notification names
    std::string archive_out, archive_in;
    char out_sort = 'N', in_sort = 'N';
    uint32_t input_flags = 0;          // InputMessageFlags
    std::string results_path;          // SaveProcessedPath
    char results_sort = 'N';
};

// Where a message stands: no init yet (or finished), initialised, between
// the start and end objects, ended.
enum class EncodePhase { idle, before_start, open, ended };

struct EncoderState {
    EncodePhase phase = EncodePhase::idle;
    uint32_t flags = 0;
    bool error = false;                // IsErrorEncode
    std::string charset = "windows-1251";
    std::string boundary_stamp;        // "%08lX.%08lX" of the time and its complement
    int level = 0;
    bool to_started = false, cc_started = false;
    bool collect = false;
    Address sender;
    std::vector<Address> recipients;
    // The certificates found for the recipients as they were added (when
    // encrypting), in list order, at most 64 each; released with the message.
    std::vector<PCCERT_CONTEXT> recipient_certs;
    std::vector<SignNode> signs;
    std::string hash_text;             // HashStr
    WorkFile output, data;
    WorkFile level_files[kLevels];
};

struct NotifyState {
    WorkFile text;
    bool to_started = false, cc_started = false;
};

struct DecoderState;
void release_decoder(DecoderState *state);

struct State {
    std::string key_path;
    PCCERT_CONTEXT my_cert = nullptr;
    SignerSerial *my_serial = nullptr;
    char *owner_name = nullptr;
    char *auten_name = nullptr;
    Settings settings;
    EncoderState enc;
    NotifyState notify;
    std::unique_ptr<DecoderState, void (*)(DecoderState *)> dec{nullptr, release_decoder};
};

} // namespace tarmin::smime

// The context: the host's head first (MHA_CONTEXT_HEAD), then the private
// state, so that the struct stays standard-layout.
struct MhaContext {
    MhaContextHead head;
    tarmin::smime::State *state;
};

namespace tarmin::smime {
inline CapiContext *crypto(MhaContext *ctx) { return ctx->head.CryptoContext; }
inline State &st(MhaContext *ctx) { return *ctx->state; }
} // namespace tarmin::smime
