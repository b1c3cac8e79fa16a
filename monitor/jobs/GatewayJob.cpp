#include "monitor/jobs/GatewayJob.h"

#include "common/codepage.h"
#include "common/settings.h"
#include "monitor/core/FileNames.h"
#include "monitor/jobs/JobFiles.h"
#include "monitor/jobs/JobMessages.h"
#include "platform/files.h"
#include "platform/lasterror.h"

#include <cerrno>
#include <cstdio>
#include <memory>
#include <sys/stat.h>

namespace tarmin::monitor {

using namespace tarmin::cp::literals;
namespace pf = tarmin::platform;

namespace {

constexpr const char *kInfoFileName = "tmninfo.txt";
constexpr const char *kSignFileName = "TMNSIGN.TMS";
constexpr const char *kOutputDirectoryValue = "GWMonOutputDirectory";
constexpr QZ_DWORD kEventPacketFailed = 0xE00C0009;
constexpr QZ_DWORD kEventCryptoFailed = 0xE0030001;
constexpr QZ_DWORD kEventStepFailed = 0xE0030015;

// A failure: the format of its message box and the short text of the packet
// job's event.
struct Failure {
    const char *format;
    const char *shortText;
};

const Failure kCreateTemp{"Ошибка создания временного файла %s:"_w, "Ошибка создания временного файла"_w};
const Failure kWriteTemp{"Ошибка записи во временный файл %s:"_w, "Ошибка записи во временный файл"_w};
const Failure kCreateDirectory{"Ошибка создания каталога %s для размещения результатов работы:"_w,
                               "Ошибка создания каталога для размещения результатов работы"_w};
const Failure kOpenAttachment{"Ошибка открытия файла с вложением %s:"_w, "Ошибка открытия файла с вложением"_w};
const Failure kMapAttachment{"Ошибка создания проецируемого файла для файла %s:"_w,
                             "Ошибка создания проецируемого файла"_w};
const Failure kViewAttachment{"Ошибка проецирования файла на память для файла %s:"_w,
                              "Ошибка проецирования файла на память"_w};
const Failure kMoveSignatures{"Ошибка перемещения файла с подписями %s в файл %s:"_w,
                              "Ошибка перемещения файла с подписями в файл"_w};
const Failure kCopyAttachment{"Ошибка перемещения файла с вложением %s в файл %s:"_w,
                              "Ошибка перемещения файла с вложением в файл"_w};
const Failure kMoveInfo{"Ошибка перемещения файла с информацией о сообщении %s в файл %s:"_w,
                        "Ошибка перемещения файла с информацией о сообщении в файл"_w};
const Failure kDeleteSource{"Ошибка удаления файла с вложением %s:"_w, "Ошибка удаления вложения"_w};

const char *outputDirectoryMissingFormat() {
    return "Необходимо запустить программу конфигурации и выполнить необходимую настройку.\nОшибка чтения "
           "настройки каталога для сохранения результатов работы из системного реестра (параметр %s)."_w;
}

// A block handed out by the crypto library, released with CCA_free.
struct CapiBuffer {
    CapiContext *context;
    CapiBlob blob{};
    explicit CapiBuffer(CapiContext *ctx) : context(ctx) {}
    ~CapiBuffer() { CCA_free(context, blob.pbData); }
    CapiBuffer(const CapiBuffer &) = delete;
    CapiBuffer &operator=(const CapiBuffer &) = delete;
};

// Reads the output directory (environment references expanded whatever the
// value's type); false when the value is missing or empty.
bool readOutputDirectory(std::string &out) {
    bool read = false;
    out = tarmin::qzcom::setting_directory(kOutputDirectoryValue, "%TEMP%", &read);
    return read && !out.empty();
}

const Failure kUnrepresentableName{"Имя файла с вложением %s нельзя записать в кодировке Windows-1251, в которой "
                                   "шлюз принимает имена вложений. Переименуйте файл."_w,
                                   "Имя файла с вложением нельзя записать в кодировке Windows-1251"_w};

// What tells whether a file changed: its identity, size and last write.
struct SourceState {
    bool found = false;
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    struct timespec written {};
    bool operator==(const SourceState &o) const {
        return found == o.found && device == o.device && inode == o.inode && size == o.size &&
               written.tv_sec == o.written.tv_sec && written.tv_nsec == o.written.tv_nsec;
    }
};

SourceState sourceState(const std::string &path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return {};
    return SourceState{true, st.st_dev, st.st_ino, st.st_size, st.st_mtim};
}

class JobWriter {
public:
    JobWriter(GatewayJob &job, std::string outputDirectory)
        : job_(job), packet_(job.packet.has_value()), outputDirectory_(std::move(outputDirectory)),
          group_(jobGroupOf(outputDirectory_)) {}

    int run();

private:
    bool findPacketFiles();
    bool checkAttachmentNames();
    bool makeJobDirectory();
    bool copyAttachments();
    bool writeSignatureFile();
    bool signAttachment(JobFileWriter &file, const std::string &source, const std::string &copy,
                        const std::string &name);
    bool writeInfoFile();
    void deleteSources();

    // Shows a failure (after removing the job directory made so far) and
    // gives false; packet jobs report it as an event first. Paths are
    // file-system paths, shown as text.
    bool fail(uint32_t error, const Failure &failure, const std::string &path, const std::string &target = {});
    // A source still held by its writer: the packet is taken on a later run.
    bool skip(uint32_t error, const Failure &failure, const std::string &path);
    bool cryptoFailure(const char *step);
    void reportPacketEvent(uint32_t error, const Failure &failure, const std::string &path);
    void removeJobDirectory();

    GatewayJob &job_;
    bool packet_;
    std::string outputDirectory_; // file-system path with a trailing "/"
    gid_t group_;
    std::string jobDirectory_; // with a trailing "/" once made
    std::vector<std::string> names_; // the attachments' names in the job directory (file system)
    std::vector<std::string> textNames_; // and as text, for "Name-Attachment:"
    bool skipped_ = false;
    std::vector<SourceState> sourcesCopied_; // each source as it was just before its copy
};

// The attachments are copied into the job directory first and the copies are
// hashed and signed: a source that another program shrinks or rewrites while
// the job is written can neither crash the monitor (a mapping of a file that
// shrinks faults on access) nor give a signature that does not match the
// attachment sent. The information file is written last, under a temporary
// name inside the job directory, and renamed: the gateway never sees it
// partly written.
int JobWriter::run() {
    if (packet_ && !findPacketFiles()) return kJobSkipped;
    if (!checkAttachmentNames() || !makeJobDirectory()) return kJobFailed;
    if (!copyAttachments()) return skipped_ ? kJobSkipped : kJobFailed;
    if (job_.signAtWorkstation && !job_.attachments.empty() && !writeSignatureFile()) return kJobFailed;
    if (!writeInfoFile()) return kJobFailed;
    if (packet_ && job_.deleteSources) deleteSources();
    return kJobWritten;
}

bool JobWriter::findPacketFiles() {
    job_.attachments.clear();
    const PacketSource &source = *job_.packet;
    const std::string directory = pf::with_trailing_slash(fileSystemPath(source.directory));
    auto entries = pf::find_files(directory, fileSystemPath(source.mask));
    if (!entries) return false;
    // Only regular files are sent: a named pipe or a device that someone put
    // into the directory has no content to copy (and reading a pipe waits
    // for a writer that may never come).
    for (const pf::DirEntry &entry : *entries) {
        if (entry.is_directory) continue;
        const std::string path = directory + entry.name;
        struct stat st {};
        if (::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) job_.attachments.push_back(path);
    }
    return !job_.attachments.empty();
}

bool JobWriter::checkAttachmentNames() {
    for (const std::string &source : job_.attachments) {
        const std::string_view name = pf::file_name_of(source);
        std::optional<std::string> text = textName(name);
        if (!text) return fail(pf::set_last_error_from_errno(EILSEQ), kUnrepresentableName, source);
        names_.emplace_back(name);
        textNames_.push_back(std::move(*text));
    }
    return true;
}

bool JobWriter::makeJobDirectory() {
    auto name = pf::temp_file_name(outputDirectory_, "gw");
    if (!name) return fail(pf::last_error(), kCreateDirectory, outputDirectory_);
    // The service made a placeholder file; the directory takes its name.
    if (!pf::remove_file(*name) || !createJobDirectory(*name, group_))
        return fail(pf::last_error(), kCreateDirectory, *name);
    jobDirectory_ = pf::with_trailing_slash(*name);
    return true;
}

bool JobWriter::copyAttachments() {
    sourcesCopied_.assign(job_.attachments.size(), SourceState{});
    for (std::size_t i = 0; i < job_.attachments.size(); ++i) {
        const std::string &source = job_.attachments[i];
        const std::string target = jobDirectory_ + names_[i];
        sourcesCopied_[i] = sourceState(source);
        if (pf::copy_file(source, target, false) && setJobFileAccess(target, group_)) continue;
        uint32_t error = pf::last_error();
        if (packet_ && pf::is_held_by_writer_error(error)) return skip(error, kCopyAttachment, source);
        return fail(error, kCopyAttachment, source, target);
    }
    return true;
}

bool JobWriter::writeSignatureFile() {
    JobFileWriter file;
    if (!file.create(jobDirectory_, "tms", group_)) return fail(pf::last_error(), kCreateTemp, file.path());
    for (std::size_t i = 0; i < job_.attachments.size(); ++i)
        if (!signAttachment(file, job_.attachments[i], jobDirectory_ + names_[i], textNames_[i])) return false;
    if (!file.close()) return fail(pf::last_error(), kWriteTemp, file.path());
    const std::string target = jobDirectory_ + kSignFileName;
    const std::string temporary = file.path();
    if (!file.commit(target)) return fail(pf::last_error(), kMoveSignatures, temporary, target);
    return true;
}

bool JobWriter::signAttachment(JobFileWriter &file, const std::string &source, const std::string &copy,
                               const std::string &name) {
    // The copy lies in the job directory, which only this user may change.
    pf::MappedFile view;
    if (!view.open(copy)) {
        uint32_t error = pf::last_error();
        switch (view.failed_stage()) {
        case pf::MappedFile::Stage::open: return fail(error, kOpenAttachment, source);
        case pf::MappedFile::Stage::view: return fail(error, kViewAttachment, source);
        default: return fail(error, kMapAttachment, source);
        }
    }
    // The crypto library takes blocks of at most 4 GiB - 1.
    if (view.size() > UINT32_MAX) return fail(pf::set_last_error_from_errno(EFBIG), kMapAttachment, source);
    CapiBlob data{const_cast<unsigned char *>(view.data()), static_cast<uint32_t>(view.size())};

    auto write = [&](std::string_view bytes) {
        return file.write(bytes) || fail(pf::last_error(), kWriteTemp, file.path());
    };
    if (!write("Name-Signer:" + job_.signerName + "\r\n")) return false;
    std::string hex;
    {
        CapiBuffer hash(job_.context);
        if (CCA_hash_mem(job_.context, &data, &hash.blob) != 0) return cryptoFailure("CCA_hash_mem");
        hex = hashHexText(hash.blob.pbData, hash.blob.cbData);
    }
    if (!write("Hash-Value:" + hex + "\r\n")) return false;
    if (!write("Name-Attachment:" + name + "\r\n")) return false;
    CapiBuffer signature(job_.context);
    if (CCA_sign_mem_sep(job_.context, &data, job_.ownCert, &signature.blob) != 0)
        return cryptoFailure("CCA_sign_mem_sep");
    char length[64];
    std::snprintf(length, sizeof length, "Length-Sign:%u\r\nSign:\r\n", signature.blob.cbData);
    return write(length) &&
           write(std::string_view(reinterpret_cast<const char *>(signature.blob.pbData), signature.blob.cbData));
}

bool JobWriter::writeInfoFile() {
    JobFileWriter file;
    if (!file.create(jobDirectory_, "tmm", group_)) return fail(pf::last_error(), kCreateTemp, file.path());
    for (const std::string &line : jobInfoLines(job_))
        if (!file.write(line)) return fail(pf::last_error(), kWriteTemp, file.path());
    if (!file.close()) return fail(pf::last_error(), kWriteTemp, file.path());
    const std::string target = jobDirectory_ + kInfoFileName;
    const std::string temporary = file.path();
    // From this moment the gateway may take the job.
    if (!file.commit(target)) return fail(pf::last_error(), kMoveInfo, temporary, target);
    return true;
}

void JobWriter::deleteSources() {
    for (std::size_t i = 0; i < job_.attachments.size(); ++i) {
        const std::string &source = job_.attachments[i];
        // A source written to (or replaced) since it was taken holds data
        // that this job did not send: it stays for the next run.
        if (!sourcesCopied_[i].found || !(sourceState(source) == sourcesCopied_[i])) continue;
        if (pf::remove_file(source)) continue;
        uint32_t error = pf::last_error();
        reportPacketEvent(error, kDeleteSource, source);
        ShowSystemError(error, kDeleteSource.format, displayPath(source).c_str());
    }
}

bool JobWriter::fail(uint32_t error, const Failure &failure, const std::string &path, const std::string &target) {
    removeJobDirectory();
    if (packet_) reportPacketEvent(error, failure, path);
    ShowSystemError(error, failure.format, displayPath(path).c_str(), displayPath(target).c_str());
    return false;
}

bool JobWriter::skip(uint32_t error, const Failure &failure, const std::string &path) {
    reportPacketEvent(error, failure, path);
    // The directory would never be completed: nothing else removes it.
    removeJobDirectory();
    skipped_ = true;
    return false;
}

bool JobWriter::cryptoFailure(const char *step) {
    QZ_ReportEvent(QZ_LEVEL_DETAIL, kEventCryptoFailed, CCA_get_debug_error(job_.context));
    QZ_ReportEvent(QZ_LEVEL_SUMMARY, kEventCryptoFailed, CCA_get_text_error(job_.context));
    QZ_ReportEvent(QZ_LEVEL_DETAIL, kEventStepFailed, step, "SignWizard");
    QZ_ShowReports(job_.owner, 3);
    removeJobDirectory();
    return false;
}

void JobWriter::reportPacketEvent(uint32_t error, const Failure &failure, const std::string &path) {
    QZ_ReportEvent(QZ_LEVEL_DETAIL, kEventPacketFailed, failure.shortText, displayPath(path).c_str(),
                   static_cast<QZ_DWORD>(error));
    QZ_ShowReports(nullptr, 1);
}

void JobWriter::removeJobDirectory() {
    if (jobDirectory_.empty()) return;
    RemoveJobDirectory(jobDirectory_);
    jobDirectory_.clear();
}

} // namespace

int WriteGatewayJob(GatewayJob &job) {
    if (job.packet) {
        job.packet->state = kJobFailed;
        if (!job.packet->selected) return job.packet->state = kJobWritten;
    }
    std::string outputDirectory;
    if (!readOutputDirectory(outputDirectory)) {
        char text[512];
        std::snprintf(text, sizeof text, outputDirectoryMissingFormat(), kOutputDirectoryValue);
        showJobMessage(text, JobMessageIcon::Error);
        return kJobFailed;
    }
    int result = JobWriter(job, pf::with_trailing_slash(fileSystemPath(outputDirectory))).run();
    if (job.packet) job.packet->state = result;
    return result;
}

bool RemoveJobDirectory(const std::string &path) {
    auto entries = pf::find_files(path, "*");
    if (!entries) return false;
    for (const pf::DirEntry &entry : *entries)
        if (!entry.is_directory && !pf::remove_file(pf::join_path(path, entry.name))) return false;
    return pf::remove_directory(path);
}

namespace {

// A header value is one line: what follows the first line break is dropped,
// as a single-line edit box drops it.
std::string oneLine(std::string_view value) { return std::string(value.substr(0, value.find_first_of("\r\n"))); }

// Every line of the body ends in CR LF, as every other line of the file.
std::string crlfLines(std::string_view text) {
    std::string out;
    out.reserve(text.size() + text.size() / 32);
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\r' || c == '\n') {
            out += "\r\n";
            if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
        } else {
            out += c;
        }
    }
    return out;
}

} // namespace

std::vector<std::string> jobInfoLines(const GatewayJob &job) {
    std::vector<std::string> lines;
    auto add = [&](const char *key, std::string_view value) { lines.push_back(key + oneLine(value) + "\r\n"); };
    if (!oneLine(job.subject).empty()) add("Subject:", job.subject);
    if (!oneLine(job.from).empty()) add("From:", job.from);
    if (job.encryptOnGateway) lines.emplace_back("Protection:Crypt\r\n");
    if (job.signOnGateway) lines.emplace_back("Protection:Sign\r\n");
    for (const std::string &recipient : job.recipients)
        add("Email:", job.packet ? recipient : recipientAddress(recipient));
    if (!job.packet && !job.body.empty()) {
        lines.emplace_back("Body:\r\n");
        lines.push_back(crlfLines(job.body));
    }
    return lines;
}

std::string recipientAddress(const std::string &entry) {
    // An entry is "display name (address)": the address is the last bracket
    // pair, which a display name with brackets of its own comes before. The
    // pair ends the entry; its opening bracket is the one that matches.
    std::size_t close = entry.find_last_of(')');
    if (close == std::string::npos) return entry;
    int depth = 0;
    for (std::size_t i = close + 1; i-- > 0;) {
        if (entry[i] == ')') ++depth;
        else if (entry[i] == '(' && --depth == 0) return entry.substr(i + 1, close - i - 1);
    }
    return entry;
}

std::string hashHexText(const unsigned char *data, size_t length) {
    char *text = nullptr;
    std::string hex;
    if (QZ_FormatHex(data, length, &text) == 0) hex = text;
    QZ_Free(text);
    return hex;
}

void showMessageJobPlaced() {
    showJobMessage("Размещение защищенного сообщения на шлюзе успешно завершено"_w, JobMessageIcon::Information);
}

} // namespace tarmin::monitor
