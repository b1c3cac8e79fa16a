// Message and packet jobs: the information file, the signature file checked
// with the crypto library, the order in which files appear, the packet
// steps, and the failures with their exact texts.
#include "job_test_support.h"
#include "tests/capi/capi_test_support.h"

#include "common/codepage.h"
#include "monitor/jobs/GatewayJob.h"
#include "platform/faults.h"
#include "platform/files.h"
#include "platform/lasterror.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <regex>
#include <sys/inotify.h>
#include <thread>
#include <unistd.h>

using namespace tarmin::monitor;
using namespace tarmin::test;
using namespace tarmin::cp::literals;
namespace fs = std::filesystem;
namespace pf = tarmin::platform;

namespace {

// Temporary information and signature files in the user's temporary
// directory (the event files of the reports live there too).
long temporaryJobFiles() {
    long n = 0;
    for (const auto &e : fs::directory_iterator(tarmin::platform::temp_directory())) {
        std::string name = e.path().filename().string();
        n += name.rfind("tmm", 0) == 0 || name.rfind("tms", 0) == 0;
    }
    return n;
}

// The files that appear in the job directories of an output directory, in
// the order the system tells of them: "name" when a file was renamed to that
// name, "name (written)" when a file was written and closed under it.
class JobDirectoryWatch {
public:
    explicit JobDirectoryWatch(const fs::path &out) : out_(out) {
        fd_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        outWatch_ = inotify_add_watch(fd_, out.c_str(), IN_CREATE | IN_ONLYDIR);
        thread_ = std::thread([this] { run(); });
    }
    ~JobDirectoryWatch() {
        stop();
        ::close(fd_);
    }
    std::vector<std::string> stop() {
        if (thread_.joinable()) {
            stopping_ = true;
            thread_.join();
        }
        return appeared_;
    }

private:
    void run() {
        for (bool last = false; !last;) {
            last = stopping_.load();
            pollfd p{fd_, POLLIN, 0};
            ::poll(&p, 1, 20);
            alignas(inotify_event) char buffer[8192];
            ssize_t n;
            while ((n = ::read(fd_, buffer, sizeof buffer)) > 0) {
                for (char *at = buffer; at < buffer + n;) {
                    auto *e = reinterpret_cast<inotify_event *>(at);
                    std::string name = e->len ? e->name : "";
                    if (e->wd == outWatch_ && (e->mask & IN_ISDIR))
                        inotify_add_watch(fd_, (out_ / name).c_str(), IN_MOVED_TO | IN_CLOSE_WRITE);
                    else if (e->wd != outWatch_)
                        appeared_.push_back(e->mask & IN_MOVED_TO ? name : name + " (written)");
                    at += sizeof(inotify_event) + e->len;
                }
            }
        }
    }

    fs::path out_;
    int fd_ = -1;
    int outWatch_ = -1;
    std::atomic<bool> stopping_{false};
    std::thread thread_;
    std::vector<std::string> appeared_;
};

class GatewayJobs : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        pki_ = new Pki(make_pki());
        init_product();
        set_my(*pki_, "operator");
        ASSERT_EQ(CCA_create_context(&ctx_), 0);
        ASSERT_EQ(CCA_init(ctx_), 0) << CCA_get_debug_error(ctx_);
        ASSERT_EQ(CCA_get_my_cert(ctx_, &cert_, &serial_), 0);
        char *name = nullptr;
        ASSERT_EQ(CCA_get_name_cert(ctx_, cert_, &name), 0);
        signer_ = name;
        CCA_free(ctx_, name);
    }
    static void TearDownTestSuite() {
        CCA_serial_free(ctx_, serial_);
        CCA_cert_free(ctx_, cert_);
        CCA_final(ctx_);
        CCA_close_context(ctx_);
        QZ_Finalize();
        delete pki_;
    }
    void SetUp() override {
        out_ = make_temp_dir("out");
        src_ = make_temp_dir("src");
        setOutput(out_.string());
    }

    static void setOutput(const std::string &dir) {
        ASSERT_EQ(QZ_SetKeyString(QZ_GetProductKeyName(), "GWMonOutputDirectory", dir.c_str(), 0), 0);
    }
    GatewayJob signedJob() const {
        GatewayJob job;
        job.context = ctx_;
        job.ownCert = cert_;
        job.signerName = signer_;
        return job;
    }
    GatewayJob packetJob(bool sign) const {
        GatewayJob job = signedJob();
        job.subject = "Рассылка 1"_w;
        job.recipients = {"SMTP:a@b.ru"};
        job.signAtWorkstation = sign;
        job.packet = PacketSource{src_.string(), "*.DAT"};
        return job;
    }
    std::string source(const std::string &name, const std::string &bytes) const {
        write_file(src_ / name, bytes);
        return (src_ / name).string();
    }
    // The one job directory of the output directory.
    fs::path jobDirectory() const {
        auto names = names_in(out_);
        EXPECT_EQ(names.size(), 1u);
        return names.empty() ? fs::path() : out_ / names[0];
    }
    static std::string hashOf(const std::string &bytes) {
        CapiBlob data = blob_of(bytes), hash{};
        EXPECT_EQ(CCA_hash_mem(ctx_, &data, &hash), 0);
        std::string hex = hashHexText(hash.pbData, hash.cbData);
        CCA_free(ctx_, hash.pbData);
        return hex;
    }

    static Pki *pki_;
    static CapiContext *ctx_;
    static PCCERT_CONTEXT cert_;
    static SignerSerial *serial_;
    static std::string signer_;
    fs::path out_, src_;
    JobRecorder recorder_;
};
Pki *GatewayJobs::pki_ = nullptr;
CapiContext *GatewayJobs::ctx_ = nullptr;
PCCERT_CONTEXT GatewayJobs::cert_ = nullptr;
SignerSerial *GatewayJobs::serial_ = nullptr;
std::string GatewayJobs::signer_;

TEST_F(GatewayJobs, InformationFileLines) {
    GatewayJob job;
    job.subject = "Тема письма"_w;
    job.from = "SMTP:operator@bank.ru";
    job.encryptOnGateway = job.signOnGateway = true;
    job.recipients = {"Иванов И.И. (SMTP:ivanov@bank.ru)"_w, "Петров (отдел) (NOTES:Petrov/Bank)"_w, "plain@bank.ru"};
    job.body = "Строка 1\r\nстрока 2"_w;
    // The output directory setting without a trailing separator.
    ASSERT_EQ(WriteGatewayJob(job), kJobWritten);
    fs::path dir = jobDirectory();
    EXPECT_TRUE(std::regex_match(dir.filename().string(), std::regex("gw[0-9A-F]{1,4}\\.tmp")));
    EXPECT_EQ(names_in(dir), std::vector<std::string>{"tmninfo.txt"});
    EXPECT_EQ(read_file(dir / "tmninfo.txt"),
              "Subject:Тема письма\r\nFrom:SMTP:operator@bank.ru\r\nProtection:Crypt\r\nProtection:Sign\r\n"
              "Email:SMTP:ivanov@bank.ru\r\nEmail:NOTES:Petrov/Bank\r\nEmail:plain@bank.ru\r\n"
              "Body:\r\nСтрока 1\r\nстрока 2"_w);
    EXPECT_TRUE(recorder_.boxes.empty());

    // Empty fields give no line at all; a packet job writes its addresses as
    // they stand and never a body.
    GatewayJob bare;
    bare.signOnGateway = true;
    EXPECT_EQ(jobInfoLines(bare), std::vector<std::string>{"Protection:Sign\r\n"});
    GatewayJob packet;
    packet.packet = PacketSource{};
    packet.recipients = {"A (SMTP:a@b.ru)"};
    packet.body = "ignored";
    EXPECT_EQ(jobInfoLines(packet), std::vector<std::string>{"Email:A (SMTP:a@b.ru)\r\n"});

    const unsigned char bytes[] = {0x0A, 0xFF};
    EXPECT_EQ(hashHexText(bytes, 2), "0A FF");
    EXPECT_EQ(hashHexText(bytes, 0), "");
}

// Values pasted with line breaks stay on their own line, an address-book
// entry whose display name has brackets sends to its address, and the body's
// lines end in CR LF whatever the edit box gave.
TEST_F(GatewayJobs, InformationFileValuesCannotAddLines) {
    GatewayJob job;
    job.subject = "Отчёт\r\nEmail:evil@x.ru"_w;
    job.from = "SMTP:op@bank.ru\nProtection:Sign";
    job.recipients = {"Банк (головной офис) (SMTP:bank@x.ru)"_w, "Отдел (a(b)c) (SMTP:d@x.ru)"_w,
                      "Без скобок\nEmail:evil@x.ru"_w, "Скобки (SMTP:e@x.ru)\r"_w};
    job.body = "строка 1\nстрока 2\rстрока 3\r\n\nконец"_w;
    EXPECT_EQ(jobInfoLines(job),
              (std::vector<std::string>{"Subject:Отчёт\r\n"_w, "From:SMTP:op@bank.ru\r\n", "Email:SMTP:bank@x.ru\r\n",
                                        "Email:SMTP:d@x.ru\r\n", "Email:Без скобок\r\n"_w,
                                        "Email:SMTP:e@x.ru\r\n", "Body:\r\n",
                                        "строка 1\r\nстрока 2\r\nстрока 3\r\n\r\nконец"_w}));
    // A value that is only a line break is empty: no line at all.
    GatewayJob blank;
    blank.subject = "\r\nSubject:x";
    blank.from = "\n";
    EXPECT_TRUE(jobInfoLines(blank).empty());
    EXPECT_EQ(recipientAddress("Имя (SMTP:a@b.ru)"_w), "SMTP:a@b.ru");
    EXPECT_EQ(recipientAddress("a@b.ru"), "a@b.ru");
}

TEST_F(GatewayJobs, MessageJobSignaturesVerifyAndInformationFileComesLast) {
    // The first attachment is large enough for the watch to see every step.
    std::string big(6 << 20, '\0');
    for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 7 + (i >> 12));
    std::string small = "Платёжное поручение"_w;
    GatewayJob job = signedJob();
    job.subject = "S";
    job.signAtWorkstation = true;
    // The Cyrillic name is UTF-8 on disk and Windows-1251 in the signature file.
    job.attachments = {source("big.bin", big), source("Платёж.txt", small)};
    // The user's temporary directory on another file system than the output
    // directory, where a move is a copy under the final name.
    const fs::path otherFs = "/dev/shm";
    struct stat outSt {}, shmSt {};
    const bool crossFs = ::stat(out_.c_str(), &outSt) == 0 && ::stat(otherFs.c_str(), &shmSt) == 0 &&
                         outSt.st_dev != shmSt.st_dev;
    fs::path otherTemp;
    if (crossFs) {
        otherTemp = otherFs / ("tarmin-jobs-" + std::to_string(::getpid()));
        fs::create_directories(otherTemp);
        ::setenv("TMP", otherTemp.c_str(), 1);
    }

    JobDirectoryWatch watch(out_);
    ASSERT_EQ(WriteGatewayJob(job), kJobWritten);
    std::vector<std::string> appeared = watch.stop();
    if (crossFs) {
        ::unsetenv("TMP");
        fs::remove_all(otherTemp);
    }
    fs::path dir = jobDirectory();
    EXPECT_EQ(names_in(dir), (std::vector<std::string>{"TMNSIGN.TMS", "big.bin", "tmninfo.txt", "Платёж.txt"}));
    EXPECT_EQ(read_file(dir / "big.bin"), big);
    EXPECT_EQ(read_file(dir / "Платёж.txt"), small);
    // The information and signature files appear once, whole, by a rename;
    // the information file last.
    ASSERT_FALSE(appeared.empty());
    EXPECT_EQ(appeared.back(), "tmninfo.txt");
    EXPECT_EQ(std::count_if(appeared.begin(), appeared.end(),
                            [](const std::string &a) { return a.rfind("tmninfo.txt", 0) == 0; }),
              1);
    EXPECT_NE(std::find(appeared.begin(), appeared.end(), "TMNSIGN.TMS"), appeared.end());
    EXPECT_EQ(std::find(appeared.begin(), appeared.end(), "TMNSIGN.TMS (written)"), appeared.end());

    // One record per attachment, in list order, nothing after the last one.
    std::string sign = read_file(dir / "TMNSIGN.TMS");
    size_t at = 0;
    auto line = [&](const std::string &key) {
        size_t end = sign.find("\r\n", at);
        EXPECT_NE(end, std::string::npos);
        std::string text = sign.substr(at, end - at);
        EXPECT_EQ(text.rfind(key, 0), 0u) << text;
        at = end + 2;
        return text.substr(key.size());
    };
    for (const auto &[name, content] : {std::pair{std::string("big.bin"), big}, {"Платёж.txt"_w, small}}) {
        EXPECT_EQ(line("Name-Signer:"), signer_);
        std::string hex = line("Hash-Value:");
        EXPECT_EQ(hex, hashOf(content));
        EXPECT_TRUE(std::regex_match(hex, std::regex("[0-9A-F]{2}( [0-9A-F]{2})*"))) << hex;
        EXPECT_EQ(line("Name-Attachment:"), name);
        size_t length = std::stoul(line("Length-Sign:"));
        EXPECT_EQ(line("Sign:"), "");
        ASSERT_LE(at + length, sign.size());
        std::string signature = sign.substr(at, length);
        at += length;
        CapiBlob data = blob_of(content), sig = blob_of(signature);
        CheckResult result{};
        EXPECT_EQ(CCA_check_mem_sep(ctx_, &data, &sig, cert_, &result), 0) << CCA_get_debug_error(ctx_);
        CCA_cert_free(ctx_, result.SignerCert);
    }
    EXPECT_EQ(at, sign.size());
    EXPECT_TRUE(recorder_.boxes.empty());
    // The temporary files were moved, none is left behind.
    EXPECT_EQ(temporaryJobFiles(), 0);
}

TEST_F(GatewayJobs, FailuresAfterTheDirectoryRemoveIt) {
    // An attachment of zero bytes cannot be mapped.
    GatewayJob job = signedJob();
    job.signAtWorkstation = true;
    std::string empty = source("empty.txt", "");
    job.attachments = {source("a.txt", "a"), empty};
    EXPECT_EQ(WriteGatewayJob(job), kJobFailed);
    ASSERT_EQ(recorder_.boxes.size(), 1u);
    EXPECT_EQ(recorder_.boxes[0].text, "Ошибка создания проецируемого файла для файла "_w + empty + ":\n" +
                                           pf::error_text(pf::kErrorFileEmpty));
    EXPECT_EQ(recorder_.boxes[0].icon, JobMessageIcon::Error);
    EXPECT_TRUE(names_in(out_).empty());
    EXPECT_TRUE(recorder_.reports.empty()); // message jobs report no event

    // The information file cannot be moved in: the directory goes too.
    GatewayJob plain;
    plain.subject = "S";
    {
        pf::ScopedFault renameFails(pf::FaultPoint::rename, EACCES);
        EXPECT_EQ(WriteGatewayJob(plain), kJobFailed);
    }
    ASSERT_EQ(recorder_.boxes.size(), 2u);
    EXPECT_TRUE(std::regex_search(recorder_.boxes[1].text,
                                  std::regex(std::string("^") + "Ошибка перемещения файла с информацией о сообщении "_w + ".*tmm.*" +
                                             " в файл "_w + ".*gw.*tmninfo.txt:\n")))
        << tarmin::cp::cp1251_to_utf8(recorder_.boxes[1].text);
    EXPECT_TRUE(names_in(out_).empty());
    // The failed jobs' temporary files were deleted.
    EXPECT_EQ(temporaryJobFiles(), 0);

    // A signing failure is reported through the common services, not shown.
    GatewayJob noContext = job;
    noContext.context = nullptr;
    noContext.attachments = {job.attachments[0]};
    recorder_.boxes.clear();
    EXPECT_EQ(WriteGatewayJob(noContext), kJobFailed);
    EXPECT_TRUE(recorder_.boxes.empty());
    ASSERT_EQ(recorder_.reports.size(), 1u);
    EXPECT_EQ(recorder_.reports[0].mode, 3);
    EXPECT_EQ(recorder_.reports[0].codes, (std::vector<QZ_DWORD>{0xE0030001, 0xE0030001, 0xE0030015}));
    EXPECT_NE(recorder_.reports[0].texts[2].find("CCA_hash_mem"), std::string::npos);
    EXPECT_NE(recorder_.reports[0].texts[2].find("SignWizard"), std::string::npos);
    EXPECT_TRUE(names_in(out_).empty());
}

// "%TEMP%\" as the configuration program writes it (a plain text): the job
// goes into that directory, not into a folder named after the reference.
TEST_F(GatewayJobs, OutputDirectoryWithAnEnvironmentReference) {
    ::setenv("TARMIN_JOBS_OUTPUT", out_.c_str(), 1);
    setOutput("%TARMIN_JOBS_OUTPUT%\\");
    GatewayJob job;
    job.subject = "Subject";
    job.recipients = {"a@b.ru"};
    job.body = "text";
    EXPECT_EQ(WriteGatewayJob(job), kJobWritten);
    EXPECT_TRUE(fs::exists(jobDirectory() / "tmninfo.txt"));
    EXPECT_TRUE(recorder_.boxes.empty());
    ::unsetenv("TARMIN_JOBS_OUTPUT");
}

TEST_F(GatewayJobs, DirectoryCannotBeMade) {
    // No output directory setting: the configuration message, no system text.
    QZ_DeleteValue(QZ_GetProductKeyName(), "GWMonOutputDirectory");
    GatewayJob job;
    EXPECT_EQ(WriteGatewayJob(job), kJobFailed);
    ASSERT_EQ(recorder_.boxes.size(), 1u);
    EXPECT_EQ(recorder_.boxes[0].text,
              "Необходимо запустить программу конфигурации и выполнить необходимую настройку.\nОшибка чтения "
              "настройки каталога для сохранения результатов работы из системного реестра (параметр "
              "GWMonOutputDirectory)."_w);

    // An output directory that does not exist: a packet job reports the
    // event, then shows the box.
    std::string missing = (out_ / "missing").string();
    setOutput(missing);
    source("a.dat", "a");
    GatewayJob packet = packetJob(false);
    EXPECT_EQ(WriteGatewayJob(packet), kJobFailed);
    EXPECT_EQ(packet.packet->state, kJobFailed);
    ASSERT_EQ(recorder_.boxes.size(), 2u);
    EXPECT_EQ(recorder_.boxes[1].text, "Ошибка создания каталога "_w + missing + "/ для размещения результатов работы:\n"_w +
                                           pf::error_text(ENOENT));
    ASSERT_EQ(recorder_.reports.size(), 1u);
    EXPECT_EQ(recorder_.boxes[1].reportCallsBefore, 1u);
    EXPECT_EQ(recorder_.reports[0].owner, nullptr);
    EXPECT_EQ(recorder_.reports[0].mode, 1);
    EXPECT_EQ(recorder_.reports[0].codes, std::vector<QZ_DWORD>{0xE00C0009});
    EXPECT_EQ(recorder_.reports[0].texts[0], "Ошибка создания каталога для размещения результатов работы "_w +
                                                 missing + "/: системная ошибка "_w + std::to_string(ENOENT));
    EXPECT_EQ(temporaryJobFiles(), 0);
}

TEST_F(GatewayJobs, PacketJobTakesMatchingFilesSkipsHeldOnesAndDeletesSources) {
    std::string a = source("a.dat", "first"), b = source("B.Dat", "second");
    source("other.txt", "not matched");
    fs::create_directory(src_ / "sub.dat");

    // An unselected packet is not written.
    GatewayJob unselected = packetJob(false);
    unselected.packet->selected = false;
    EXPECT_EQ(WriteGatewayJob(unselected), kJobWritten);
    EXPECT_EQ(unselected.packet->state, kJobWritten);
    EXPECT_TRUE(names_in(out_).empty());

    {
        // A source still held by its writer: skipped, at the copy and (when
        // signing) already at opening; the directory does not stay.
        pf::File held;
        ASSERT_TRUE(held.open(b, pf::kRead));
        pf::WriterLock lock;
        ASSERT_TRUE(lock.lock(held.fd()));
        for (bool sign : {false, true}) {
            GatewayJob job = packetJob(sign);
            EXPECT_EQ(WriteGatewayJob(job), kJobSkipped) << sign;
            EXPECT_EQ(job.packet->state, kJobSkipped);
            EXPECT_TRUE(names_in(out_).empty());
        }
        EXPECT_TRUE(recorder_.boxes.empty());
        ASSERT_EQ(recorder_.reports.size(), 2u);
        EXPECT_EQ(recorder_.reports[0].texts[0], "Ошибка перемещения файла с вложением в файл "_w + b +
                                                     ": системная ошибка 32"_w);
        // The attachments are copied before anything is signed.
        EXPECT_EQ(recorder_.reports[1].texts[0], "Ошибка перемещения файла с вложением в файл "_w + b +
                                                     ": системная ошибка 32"_w);
    }

    // Released: both matching files go, then the sources are deleted; one
    // that cannot be deleted is shown and the next one is still deleted.
    GatewayJob job = packetJob(true);
    job.deleteSources = true;
    {
        pf::ScopedFault deleteFails(pf::FaultPoint::remove, EACCES, 1, 1); // after the placeholder
        EXPECT_EQ(WriteGatewayJob(job), kJobWritten);
    }
    EXPECT_EQ(job.packet->state, kJobWritten);
    EXPECT_EQ(job.attachments, (std::vector<std::string>{b, a})); // sorted by name
    fs::path dir = jobDirectory();
    EXPECT_EQ(names_in(dir), (std::vector<std::string>{"B.Dat", "TMNSIGN.TMS", "a.dat", "tmninfo.txt"}));
    EXPECT_EQ(read_file(dir / "tmninfo.txt"), "Subject:Рассылка 1\r\nEmail:SMTP:a@b.ru\r\n"_w);
    EXPECT_EQ(names_in(src_), (std::vector<std::string>{"B.Dat", "other.txt", "sub.dat"}));
    ASSERT_EQ(recorder_.boxes.size(), 1u);
    EXPECT_EQ(recorder_.boxes[0].text, "Ошибка удаления файла с вложением "_w + b + ":\n" + pf::error_text(EACCES));
    ASSERT_EQ(recorder_.reports.size(), 3u);
    EXPECT_EQ(recorder_.reports[2].texts[0], "Ошибка удаления вложения "_w + b + ": системная ошибка "_w +
                                                 std::to_string(EACCES));

    // Nothing left to send.
    fs::remove(b);
    GatewayJob again = packetJob(false);
    EXPECT_EQ(WriteGatewayJob(again), kJobSkipped);
    EXPECT_EQ(names_in(out_).size(), 1u);
    EXPECT_EQ(recorder_.boxes.size(), 1u);
    EXPECT_EQ(recorder_.reports.size(), 3u);
}

// Job directories are for the gateway, which may run under another account in
// the output directory's group: 0750 directories, 0640 files, that group,
// whatever the sources' modes and the umask.
TEST_F(GatewayJobs, JobFilesAreForTheOutputDirectorysGroup) {
    constexpr gid_t kGatewayGroup = 4242;
    if (::chown(out_.c_str(), static_cast<uid_t>(-1), kGatewayGroup) != 0) GTEST_SKIP() << "cannot chown";
    const mode_t oldMask = ::umask(077);
    std::string privateSource = source("private.txt", "secret"), openSource = source("open.txt", "public");
    fs::permissions(privateSource, fs::perms::owner_read | fs::perms::owner_write);
    fs::permissions(openSource, fs::perms::owner_all | fs::perms::group_all | fs::perms::others_all);
    GatewayJob job = signedJob();
    job.subject = "S";
    job.signAtWorkstation = true;
    job.attachments = {privateSource, openSource};
    ASSERT_EQ(WriteGatewayJob(job), kJobWritten);
    ::umask(oldMask);
    fs::path dir = jobDirectory();
    struct stat st {};
    ASSERT_EQ(::stat(dir.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0750u);
    EXPECT_EQ(st.st_gid, kGatewayGroup);
    for (const std::string &name : names_in(dir)) {
        ASSERT_EQ(::stat((dir / name).c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, 0640u) << name;
        EXPECT_EQ(st.st_gid, kGatewayGroup) << name;
    }
    EXPECT_EQ(names_in(dir).size(), 4u);
}

// Another program rewrites or shortens an attachment while the job is being
// written: the monitor neither dies (a mapping of a file that shrinks faults
// on access) nor signs other bytes than it sends.
TEST_F(GatewayJobs, AttachmentChangedWhileTheJobIsWritten) {
    const size_t size = 4 << 20;
    std::string first(size, 'a'), second(size, 'b');
    const std::string path = source("changing.bin", first);
    std::atomic<bool> stop{false};
    std::thread writer([&] {
        int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
        for (int round = 0; !stop; ++round) {
            const std::string &bytes = round % 2 ? second : first;
            if (::ftruncate(fd, static_cast<off_t>(round % 3 + 1) * 4096) != 0) break;
            if (::pwrite(fd, bytes.data(), bytes.size(), 0) != static_cast<ssize_t>(bytes.size())) break;
        }
        ::close(fd);
    });
    int written = 0;
    for (int i = 0; i < 4; ++i) {
        GatewayJob job = signedJob();
        job.signAtWorkstation = true;
        job.attachments = {path};
        if (WriteGatewayJob(job) != kJobWritten) continue;
        ++written;
        fs::path dir = jobDirectory();
        const std::string sent = read_file(dir / "changing.bin");
        const std::string sign = read_file(dir / "TMNSIGN.TMS");
        // The hash and the signature are those of the bytes sent.
        EXPECT_NE(sign.find("Hash-Value:" + hashOf(sent) + "\r\n"), std::string::npos);
        const size_t mark = sign.find("Sign:\r\n");
        ASSERT_NE(mark, std::string::npos);
        const std::string signature = sign.substr(mark + 7);
        CapiBlob data = blob_of(sent), sig = blob_of(signature);
        CheckResult result{};
        EXPECT_EQ(CCA_check_mem_sep(ctx_, &data, &sig, cert_, &result), 0) << CCA_get_debug_error(ctx_);
        CCA_cert_free(ctx_, result.SignerCert);
        RemoveJobDirectory(dir.string());
    }
    stop = true;
    writer.join();
    EXPECT_EQ(written, 4);
}

// Names between the file system (UTF-8) and the texts (Windows-1251): a
// packet directory given as a setting's text, attachment names written as
// text, and a name that the text cannot hold refused before anything is
// placed.
TEST_F(GatewayJobs, AttachmentNamesAreWindows1251Text) {
    const fs::path packets = src_ / "Пакеты";
    fs::create_directories(packets);
    write_file(packets / "Отчёт.dat", "report");
    GatewayJob job = packetJob(true);
    job.packet->directory = tarmin::cp::utf8_to_cp1251(packets.string());
    ASSERT_EQ(WriteGatewayJob(job), kJobWritten);
    EXPECT_EQ(job.attachments, std::vector<std::string>{(packets / "Отчёт.dat").string()});
    fs::path dir = jobDirectory();
    EXPECT_EQ(names_in(dir), (std::vector<std::string>{"TMNSIGN.TMS", "tmninfo.txt", "Отчёт.dat"}));
    EXPECT_NE(read_file(dir / "TMNSIGN.TMS").find(std::string("\r\nName-Attachment:") + "Отчёт.dat"_w + "\r\n"),
              std::string::npos);
    EXPECT_TRUE(recorder_.boxes.empty());
    RemoveJobDirectory(dir.string());

    // "Ω" has no Windows-1251 byte: the job is refused with the reason.
    GatewayJob message = signedJob();
    message.signAtWorkstation = true;
    message.attachments = {source("a.txt", "a"), source("Ωmega.txt", "b")};
    EXPECT_EQ(WriteGatewayJob(message), kJobFailed);
    ASSERT_EQ(recorder_.boxes.size(), 1u);
    EXPECT_EQ(recorder_.boxes[0].text.rfind("Имя файла с вложением "_w + tarmin::cp::utf8_to_cp1251((src_ / "?mega.txt").string()) +
                                                " нельзя записать в кодировке Windows-1251"_w,
                                            0),
              0u)
        << tarmin::cp::cp1251_to_utf8(recorder_.boxes[0].text);
    EXPECT_TRUE(names_in(out_).empty());
}

} // namespace
