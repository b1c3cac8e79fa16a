// The protected message that the signing wizard prepares, without a window:
// the address book of the registry, the attachment list's refusal of a second
// file of the same name, the summary lines of the wizard's last page and the
// message job built from what the operator entered. Texts are Windows-1251.
#pragma once

#include "monitor/jobs/GatewayJob.h"

#include <cstddef>
#include <string>
#include <vector>

namespace tarmin::monitor {

// What the wizard's pages hold when it is finished.
struct SignMessageData {
    std::string subject;
    std::string body;
    std::string from;
    std::vector<std::string> attachments; // full file-system paths, top of the list first
    std::vector<std::string> recipients;  // address-book entries "name (address)"
    bool signOnGateway = true;
    bool encryptOnGateway = true;
};

// The address book under the settings key ("GWMonEmailList" with
// "GWMonEmailListNum" numbered sub-keys holding "Email" and "CName").
struct AddressBook {
    bool opened = false;              // the key could be opened for reading
    std::vector<std::string> entries; // "display name (address)"; missing sub-keys are skipped
};
AddressBook readAddressBook();
// The message shown when the address book's key cannot be opened.
std::string addressBookMissingMessage();

// The first of `selected` (file-system paths, in order) whose file name
// equals, without regard to the case of Latin and Cyrillic letters, the file
// name of an attachment listed or of one selected before it; selected.size()
// when there is none. The files before it are the ones to add.
std::size_t firstDuplicateAttachment(const std::vector<std::string> &listed,
                                     const std::vector<std::string> &selected);
// The first of `selected` whose file name Windows-1251 cannot hold (the
// gateway takes attachment names in that code page); selected.size() when
// there is none. Such a file is refused with the message below.
std::size_t firstUnrepresentableAttachment(const std::vector<std::string> &selected);
std::string unrepresentableAttachmentMessage(const std::string &path);
// The warning shown for such a file, and the error of a message without
// attachments.
std::string duplicateAttachmentMessage();
std::string noAttachmentMessage();

// The lines of the summary page (attachment paths shown as text).
std::vector<std::string> signSummaryLines(const SignMessageData &data);

// The message job: written on the gateway as entered, every attachment signed
// at the workstation with the given context, certificate and subject name.
GatewayJob messageJob(const SignMessageData &data, CapiContext *context, PCCERT_CONTEXT ownCert,
                      const std::string &signerName);

} // namespace tarmin::monitor
