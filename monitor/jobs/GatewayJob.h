// Gateway job directories: the message and packet jobs that the monitor
// places into the gateway's output directory, and their removal.
//
// A job directory "gw<hex>.tmp" is made in the output directory (the setting
// "GWMonOutputDirectory") and filled in this order: the copies of the
// attachments, the signature file "TMNSIGN.TMS" made over those copies (when
// the job is signed at the workstation and has attachments), and last the
// information file "tmninfo.txt". The gateway takes a directory only once
// "tmninfo.txt" is in it, so a directory holding it is always complete: the
// signature and information files are written under temporary names inside
// the job directory and renamed, never filled under their final names.
// Directories are 0750, files 0640, in the output directory's group
// (JobFiles.h).
//
// Names: the output and packet directories are Windows-1251 texts of the
// settings, turned into file-system paths here; attachments are file-system
// paths. An attachment's name goes into "Name-Attachment:" as Windows-1251;
// a name that Windows-1251 cannot hold fails the job with a message. "/" is
// the separator; a trailing "\" counts as one.
//
// Every failure is shown to the operator (JobMessages.h) with the system's
// text for the error; a job that fails after its directory was made removes
// the directory first, so a failed job never leaves a "tmninfo.txt". Packet
// jobs also report each failure as event 0xE00C0009. A failure of hashing or
// signing is not shown as a box: it is reported (0xE0030001 with the library's
// trace and operator texts, 0xE0030015 with the step) and the reports are
// shown under the job's owner window.
#pragma once

#include "qzcom.h"
#include "qzms.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tarmin::monitor {

// Results of WriteGatewayJob.
enum JobResult : int {
    kJobFailed = 0,
    kJobWritten = 1,
    kJobSkipped = 2, // packet jobs: nothing to send, or a source still held by its writer
};

// The source of a packet job: the files of one directory that match a mask.
struct PacketSource {
    std::string directory; // Windows-1251 text; a "/" is appended when missing
    std::string mask = "*"; // Windows-1251 text
    bool selected = true;  // a packet the operator did not choose is not written
    int state = 0;         // the result of the last run (JobResult)
};

// The description of one job.
struct GatewayJob {
    std::string subject;
    std::string from;
    bool encryptOnGateway = false;
    bool signOnGateway = false;
    // Message jobs: the signing wizard's entries "name (address)", of which
    // the text inside the last round brackets is written (the whole entry
    // when it has none). Packet jobs: addresses written as they stand.
    // Subject, sender and addresses are cut at their first line break.
    std::vector<std::string> recipients;
    std::string body; // message jobs only; its lines are written ending in CR LF
    // Full source paths (file system). A packet job replaces them with the
    // files it finds.
    std::vector<std::string> attachments;
    // Write "TMNSIGN.TMS" (only when there are attachments); the signing
    // wizard sets it for every message job with attachments.
    bool signAtWorkstation = false;
    // Packet jobs only: delete the sources once the job is complete; a
    // source written to or replaced since its copy was taken is kept.
    bool deleteSources = false;

    // Signing at the workstation: the open context, the own certificate
    // (null: the context's own) and its subject name for "Name-Signer:".
    CapiContext *context = nullptr;
    PCCERT_CONTEXT ownCert = nullptr;
    std::string signerName;
    // The owner of the report window after a signing failure.
    QZ_HWND owner = nullptr;

    // Set for a packet job; its state receives the result.
    std::optional<PacketSource> packet;
};

// Writes a message or packet job into the output directory read from the
// settings. Message jobs give kJobWritten or kJobFailed. Packet jobs: state
// 0 first; an unselected packet gives kJobWritten at once; a packet without
// matching files, or one whose file is still held by its writer (the job
// directory is then removed and the file is taken on a later run), gives
// kJobSkipped; the state is set to the result.
int WriteGatewayJob(GatewayJob &job);

// Deletes every file directly inside the directory (subdirectories are left)
// and then the directory. False when a file or the directory could not be
// removed; deletion stops at the first file that cannot be deleted.
bool RemoveJobDirectory(const std::string &path);

// The information file of a job ("tmninfo.txt"), line by line as written.
std::vector<std::string> jobInfoLines(const GatewayJob &job);

// The address of a recipient entry "display name (address)": the text inside
// its last bracket pair (the whole entry when it has none).
std::string recipientAddress(const std::string &entry);

// Upper-case hexadecimal of bytes, one blank between bytes ("0A FF").
std::string hashHexText(const unsigned char *data, size_t length);

// The success message of a message job (information box).
void showMessageJobPlaced();

} // namespace tarmin::monitor
