// uishot DIR: renders every dialog of the crypto UI library (qzvoui) and the
// UI module (tmnui) into DIR as PNG files, offscreen, on sample data: a test
// PKI made by tmncert in a temporary home (the user's own stores and
// settings are never read), and a message signed, encrypted and decoded by
// tmnsmime for the result sheet. Each tab of a sheet gets its own picture.
#include "common/codepage.h"
#include "cryptoui/ui_session.h"
#include "include/qzcom.h"
#include "include/qzvoui.h"
#include "include/tmnsmime.h"
#include "include/tmnui.h"
#include "tools/cli/gui_program.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QItemSelectionModel>
#include <QDir>
#include <QMessageBox>
#include <QPushButton>
#include <QTabWidget>
#include <QWidget>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace tarmin::cp::literals;

namespace {

// Takes the operator's place: photographs each dialog and message box, then
// closes it.
class Camera : public tarmin::qzvoui::UiHook {
public:
    explicit Camera(fs::path out) : out_(std::move(out)) {}
    // The names of the next pictures, in the order the windows appear.
    void expect(std::initializer_list<const char *> names) { names_.insert(names_.end(), names.begin(), names.end()); }

    int runDialog(QDialog &dialog) override {
        shoot(dialog, nextName(dialog.objectName()));
        return QDialog::Rejected;
    }
    int messageBox(const QString &text, const QString &caption, uint32_t flags) override {
        const QMessageBox::Icon icon = (flags & 0xF0u) == TMN_MB_ICONERROR     ? QMessageBox::Critical
                                       : (flags & 0xF0u) == TMN_MB_ICONWARNING ? QMessageBox::Warning
                                                                               : QMessageBox::Information;
        QMessageBox box(icon, caption, text, (flags & 0xFu) == TMN_MB_OKCANCEL ? QMessageBox::Ok | QMessageBox::Cancel : QMessageBox::Ok);
        if (auto *cancel = box.button(QMessageBox::Cancel)) cancel->setText(QStringLiteral("Отмена"));
        shoot(box, nextName(QStringLiteral("message-box")));
        return TMN_IDCANCEL;
    }
    void shoot(QWidget &w, const QString &name) {
        // The first row of each list selected, as an operator would have it.
        for (auto *list : w.findChildren<QAbstractItemView *>())
            if (list->model() && list->model()->rowCount() > 0 && !list->selectionModel()->hasSelection())
                list->setCurrentIndex(list->model()->index(0, 0));
        w.show();
        QApplication::processEvents();
        auto *tabs = w.findChild<QTabWidget *>();
        if (!tabs || tabs->count() < 2) {
            save(w, name);
        } else {
            for (int i = 0; i < tabs->count(); ++i) {
                tabs->setCurrentIndex(i);
                QApplication::processEvents();
                QString page = tabs->widget(i)->objectName().toLower();
                page.remove(QStringLiteral("page"));
                save(w, name + QLatin1Char('-') + (page.isEmpty() ? QString::number(i + 1) : page));
            }
        }
        w.hide();
    }
    int failures = 0;
    int written = 0;

private:
    QString nextName(const QString &fallback) {
        if (names_.empty()) return fallback;
        QString n = QString::fromUtf8(names_.front());
        names_.pop_front();
        return n;
    }
    void save(QWidget &w, const QString &name) {
        const QString file = QString::fromStdString((out_ / (name.toStdString() + ".png")).string());
        if (w.grab().save(file, "PNG")) {
            ++written;
        } else {
            ++failures;
            std::fprintf(stderr, "uishot: %s not written\n", file.toUtf8().constData());
        }
    }
    fs::path out_;
    std::deque<const char *> names_;
};

// Runs a program; its standard output, or nothing when it fails.
bool run(const std::vector<std::string> &args, std::string *out) {
    int pipefd[2];
    if (::pipe(pipefd) != 0) return false;
    pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(pipefd[1], 1);
        ::close(pipefd[0]);
        ::close(pipefd[1]);
        std::vector<char *> argv;
        for (const auto &a : args) argv.push_back(const_cast<char *>(a.c_str()));
        argv.push_back(nullptr);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    ::close(pipefd[1]);
    char buffer[4096];
    ssize_t n;
    while ((n = ::read(pipefd[0], buffer, sizeof buffer)) > 0)
        if (out) out->append(buffer, static_cast<size_t>(n));
    ::close(pipefd[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

std::string readFile(const fs::path &p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

char *dup(const std::string &s) {
    char *p = static_cast<char *>(std::malloc(s.size() + 1));
    std::memcpy(p, s.c_str(), s.size() + 1);
    return p;
}

// The objects of a sample message, made as a host makes them.
std::vector<MhaObject *> sampleMessage() {
    auto make = [](uint32_t type) {
        auto *o = static_cast<MhaObject *>(std::calloc(1, sizeof(MhaObject)));
        o->Type = type;
        return o;
    };
    std::vector<MhaObject *> v;
    v.push_back(make(MHA_OBJ_START));
    MhaObject *from = make(MHA_OBJ_FROM);
    from->FromTypeAddress = dup("SMTP");
    from->FromName = dup("Оператор шлюза"_w);
    from->FromAddress = dup("operator@tarmin.test");
    v.push_back(from);
    MhaObject *to = make(MHA_OBJ_TO);
    to->ToTypeAddress = dup("SMTP");
    to->ToName = dup("Alice Correspondent");
    to->ToAddress = dup("alice@tarmin.test");
    v.push_back(to);
    MhaObject *date = make(MHA_OBJ_DATE);
    const uint64_t ft = (1767607262ULL + 11644473600ULL) * 10000000ULL;
    date->SendDate = {static_cast<uint32_t>(ft), static_cast<uint32_t>(ft >> 32)};
    v.push_back(date);
    MhaObject *subject = make(MHA_OBJ_SUBJECT);
    subject->Subject = dup("Отчётность за декабрь 2025 года"_w);
    v.push_back(subject);
    MhaObject *body = make(MHA_OBJ_BODY);
    body->Body = dup("Направляем отчётность за декабрь.\r\nС уважением, операционный отдел."_w);
    body->BodyLength = static_cast<uint32_t>(std::strlen(body->Body));
    v.push_back(body);
    for (const char *name : {"balance.xml", "отчёт.pdf"}) {
        MhaObject *a = make(MHA_OBJ_ATTACHMENT);
        const std::string data(4096, 'x');
        a->AttachName = dup(tarmin::cp::utf8_to_cp1251(name));
        a->AttachData = reinterpret_cast<unsigned char *>(dup(data));
        a->AttachLength = static_cast<uint32_t>(data.size());
        a->AttachRenderingPosition = -1;
        a->AttachMethod = 1;
        v.push_back(a);
    }
    v.push_back(make(MHA_OBJ_END));
    return v;
}

// Encodes the sample message signed and encrypted, decodes it, and shows the
// result sheet.
bool showDecodedResult(Camera &camera) {
    MhaContext *ctx = nullptr;
    if (MHA_create_context(&ctx) != 0 || MHA_vcert_init(ctx) != 0) {
        QZ_ShowReports(nullptr, 1);
        MHA_close_context(ctx);
        return false;
    }
    bool ok = MHA_encode_init(ctx, MHA_SIGN | MHA_ENCRYPT) == 0;
    std::vector<MhaObject *> objects = sampleMessage();
    for (MhaObject *o : objects) {
        if (ok) ok = MHA_encode_add(ctx, o) == 0;
        MHA_object_free(ctx, o);
    }
    MhaSmime *smime = nullptr;
    if (ok) ok = MHA_encode_final(ctx, &smime) == 0;
    else MHA_encode_free(ctx);
    MhaResult *result = nullptr;
    if (ok) {
        uint32_t flags = 0;
        ok = MHA_decode_init(ctx, smime, &flags, &result, nullptr) == 0 && result;
        for (MhaObject *o = nullptr; MHA_decode_extract(ctx, &o) == 0 && o;) MHA_object_free(ctx, o);
        MHA_decode_final(ctx);
    }
    if (ok) {
        ProcessResult r{};
        TMN_UIResultFromMha(result, &r);
        camera.expect({"tmnui-result"});
        TMN_UIShowResult(nullptr, ctx, &r);
    } else {
        QZ_ShowReports(nullptr, 1);
    }
    MHA_result_free(ctx, result);
    MHA_smime_free(ctx, smime);
    MHA_vcert_final(ctx);
    MHA_close_context(ctx);
    return ok;
}

void showNotifications() {
    struct Sample {
        const char *name, *address, *type;
        uint32_t recipientType, result;
        int64_t time;
    };
    const Sample samples[] = {
        {"Alice Correspondent", "alice@tarmin.test", "SMTP", 2, 2, 1767607262},
        {"Bob Correspondent", "bob@tarmin.test", "SMTP", 2, 1, 1767608000},
        {"Отдел отчётности", "/o=Tarmin/ou=Gateway/cn=Reports", "EX", 1, 0, 0},
    };
    std::string packed;
    for (const Sample &s : samples) {
        const std::string name = tarmin::cp::utf8_to_cp1251(s.name) + std::string(1, '\0');
        TmnNotifyEntryHead head{};
        head.NameLength = static_cast<uint32_t>(name.size());
        head.AddressLength = static_cast<uint32_t>(std::strlen(s.address));
        head.AddressTypeLength = static_cast<uint32_t>(std::strlen(s.type));
        head.RecipientType = s.recipientType;
        head.ReceiptResult = s.result;
        head.SignTime = s.time;
        packed.append(reinterpret_cast<const char *>(&head), sizeof head);
        packed += name + s.address + s.type;
    }
    const TmnNotifyHeader header{3, 1, 1};
    TMN_UIShowNotificationStatus(nullptr, &header, static_cast<uint32_t>(packed.size()), packed.data());
}

} // namespace

constexpr const char *kUsage =
    "Usage: uishot DIR\n"
    "Renders every dialog of the Tarmin dialog libraries (qzvoui and tmnui) into DIR as PNG\n"
    "files, offscreen, on sample data: a test PKI made with tmncert in a temporary home (the\n"
    "user's own stores and settings are never read) and a message that tmnsmime signs,\n"
    "encrypts and decodes. Each tab of a sheet gets a picture of its own.\n"
    "  -h, --help   print this text and exit\n"
    "  --version    print the version and exit\n";

int main(int argc, char **argv) {
    const std::vector<std::string> args(argv, argv + argc);
    // One directory; an argument that begins with '-' is an option (a
    // directory of such a name is given as ./-x).
    const auto isDirectory = [](const std::string &a) { return !a.empty() && a[0] != '-'; };
    if (auto status = tarmin::cli::screenCommandLine("uishot", args, isDirectory, kUsage, "uishot " TARMIN_VERSION "\n"))
        return *status;
    if (argc != 2) {
        std::fprintf(stderr, "uishot: %s\n%s", argc < 2 ? "the directory to write is missing" : "one directory only",
                     kUsage);
        return 2;
    }
    tarmin::cli::routeQtMessages();
    const fs::path out = fs::absolute(argv[1]);
    fs::create_directories(out);
    const fs::path tmncert = fs::canonical("/proc/self/exe").parent_path() / "tmncert";
    char home[] = "/tmp/uishot-XXXXXX";
    if (!::mkdtemp(home)) return 1;
    ::setenv("TARMIN_HOME", home, 1);
    ::setenv("TMP", home, 1);
    if (!std::getenv("QT_QPA_PLATFORM")) ::setenv("QT_QPA_PLATFORM", "offscreen", 1);

    QApplication app(argc, argv);
    int rc = 0;
    std::map<std::string, std::string> thumb;
    std::string listing;
    if (QZ_Initialize("tarmin-operator", QZ_VERSION) != 0 ||
        !run({tmncert.string(), "pki", "--out", std::string(home) + "/pki"}, &listing)) {
        std::fprintf(stderr, "uishot: the sample PKI could not be made with %s\n", tmncert.c_str());
        fs::remove_all(home);
        return 1;
    }
    std::istringstream lines(listing);
    for (std::string name, t; lines >> name >> t;) thumb[name] = t;
    run({tmncert.string(), "setmy", thumb["operator"]}, nullptr);
    const std::string product = QZ_GetProductKeyName();
    QZ_SetKeyDword(product.c_str(), "CertificateFlags", 0, 0);
    QZ_SetKeyDword(product.c_str(), "OutputMessageFlags", 0, 0);
    // The installation directory, where the crypto library looks for its
    // address redirection file (there is none).
    const fs::path install = fs::path(home) / "install";
    fs::create_directories(install);
    QZ_SetKeyString(product.c_str(), "Path", install.c_str(), 0);
    const fs::path pki = fs::path(home) / "pki";

    Camera camera(out);
    tarmin::qzvoui::setUiHook(&camera);
    {
        // qzvoui
        const std::string i1 = "CN=Оператор шлюза, O=Tarmin Test"_w, i2 = "CN=Operator 2001, O=Tarmin Test";
        const std::string d1 = "Серийный номер: 4F 2A ...\nДействителен по: 05.01.2027"_w, d2 = "ГОСТ Р 34.10-2001"_w;
        const char *items[] = {i1.c_str(), i2.c_str()};
        const char *details[] = {d1.c_str(), d2.c_str()};
        int32_t selected = 0;
        camera.expect({"qzvoui-reader"});
        TMN_UIGetReader(items, 2, "Используемый сертификат:"_w, details, &selected, nullptr);

        for (int i = 0; i < 3; ++i)
            QZ_SetKeyString("Software\\KELVORIA\\common-M", std::to_string(i).c_str(),
                            ("00012" + std::to_string(i) + "AB0001").c_str(), 0);
        QZ_SetKeyDword("Software\\KELVORIA\\common-M", "NumOfKeys", 3, 0);
        QZ_SetKeyString("Software\\KELVORIA\\common-M", "CurrentKey", "000121AB0001", 0);
        char key[13];
        camera.expect({"qzvoui-key-number"});
        TMN_UIGetUserKeyNumber(key, 12, 1);
        camera.expect({"qzvoui-splash"});
        TMN_UIShowSplash("Тармин"_w, "Идет проверка ключевого носителя..."_w, 3);

        const std::string opDer = readFile(pki / "operator.cer"), caDer = readFile(pki / "ca.cer"),
                          crlDer = readFile(pki / "ca.crl");
        TMN_VERBA_CERT *op = nullptr, *ca = nullptr;
        TMN_VERBA_CRL *crl = nullptr;
        TMN_UIVerbaCertFromDer(reinterpret_cast<const unsigned char *>(opDer.data()), static_cast<uint32_t>(opDer.size()), &op);
        TMN_UIVerbaCertFromDer(reinterpret_cast<const unsigned char *>(caDer.data()), static_cast<uint32_t>(caDer.size()), &ca);
        TMN_UIVerbaCrlFromDer(reinterpret_cast<const unsigned char *>(crlDer.data()), static_cast<uint32_t>(crlDer.size()), &crl);
        if (op && ca && crl) {
            camera.expect({"qzvoui-verba-cert"});
            TMN_UIVerbaShowCert(ca, op);
            camera.expect({"qzvoui-verba-crl"});
            TMN_UIVerbaShowCrl(crl, crl->RevokedSerials, crl->RevokedCount);
        } else {
            ++rc;
        }
        camera.expect({"qzvoui-certificate"});
        TMN_UIViewCertificate(reinterpret_cast<const unsigned char *>(opDer.data()), static_cast<uint32_t>(opDer.size()), 0);
        camera.expect({"qzvoui-crl"});
        TMN_UIViewCrl(reinterpret_cast<const unsigned char *>(crlDer.data()), static_cast<uint32_t>(crlDer.size()));
        TMN_UIVerbaFreeCert(op);
        TMN_UIVerbaFreeCert(ca);
        TMN_UIVerbaFreeCrl(crl);
    }
    {
        // tmnui
        if (!showDecodedResult(camera)) {
            std::fprintf(stderr, "uishot: the sample message could not be made and decoded\n");
            ++rc;
        }
        camera.expect({"tmnui-notifications"});
        showNotifications();
        camera.expect({"tmnui-init"});
        TMN_UIShowInit(nullptr, "Пользователь: Оператор шлюза"_w, "Профиль: основной"_w, TMN_INIT_NO_OWN_CERT);
        QZ_HWND unmodal = TMN_UIShowUnmodalInit(nullptr, "Проверка ключевого носителя"_w, "", "");
        if (unmodal) camera.shoot(*static_cast<QWidget *>(unmodal), QStringLiteral("tmnui-unmodal-init"));
        TMN_UIDeleteUnmodalInit(unmodal);
        camera.expect({"tmnui-send-box"});
        TMN_UISendNotifyBox(nullptr, TMN_SEND_ENCRYPTED | TMN_SEND_SIGNED);
        uint32_t chosen = 0;
        camera.expect({"tmnui-user-input"});
        GetUserInput(nullptr, 0x12, &chosen);
        camera.expect({"tmnui-manager"});
        TMN_UIShowManager();
    }
    tarmin::qzvoui::setUiHook(nullptr);
    QZ_Finalize();
    fs::remove_all(home);
    rc += camera.failures;
    std::fprintf(stderr, "uishot: %d pictures written to %s%s\n", camera.written, out.c_str(),
                 rc ? " (some could not be made)" : "");
    return rc ? 1 : 0;
}
