#include "moncfg/PageTable.h"

#include "common/codepage.h"

#include <array>

namespace tarmin::moncfg {

using namespace tarmin::cp::literals;
using monitor::kAddressBookLayout;
using monitor::kPacketListLayout;
using monitor::kSenderListLayout;

namespace {

// "Тармин-Оператор": keys at start-up, the system speaker; the refresh period.
constexpr std::array kRootBoxes{CheckBox{1213, 1}, CheckBox{1237, 2}};
constexpr CheckGroup kRootChecks{"ProtectionFlags", 0, kRootBoxes};
constexpr std::array kRootFields{Field{"GWMonRefreshTimeout", 1238, FieldKind::Number, "120", 1240, 1, 1000}};

// "Каталоги": the output and log directories, the day limit.
constexpr std::array kPathBoxes{CheckBox{1263, 1}};
constexpr CheckGroup kPathChecks{"PathsFlags", 0, kPathBoxes};
constexpr std::array kPathDependencies{Dependency{1264, 1263}, Dependency{1265, 1263}, Dependency{1266, 1263}};
constexpr std::array kPathFields{
    Field{"GWMonOutputDirectory", 1167, FieldKind::Text, ""},
    Field{"GWMonGWLogDirectory", 1169, FieldKind::Text, ""},
    Field{"AnalyzeNday", 1265, FieldKind::Number, "90", 1266, 1, 3650},
};

// "Протокол": the operator event files (radio buttons as one group).
constexpr std::array kProtocolBoxes{CheckBox{1078, 1}, CheckBox{1039, 2}, CheckBox{1070, 4}, CheckBox{1041, 8}};
constexpr CheckGroup kProtocolChecks{"Update period", 1, kProtocolBoxes};
constexpr std::array kProtocolFields{
    // The temporary directory with a separator at its end; the value is
    // written as an expandable text, so it follows TEMP.
    Field{"Filename", 1031, FieldKind::Text, "%TEMP%/"},
    Field{"Maximum file size", 1044, FieldKind::Number, "512", 1083, 10, 1000},
    Field{"DeleteFilePeriod", 1032, FieldKind::Number, "30", 1082, 1, 1000},
};

constexpr std::array kProtocolDependencies{Dependency{1044, 1039}, Dependency{1083, 1039}};

// "Уведомления": receipts and repeated errors.
constexpr std::array kKvitBoxes{CheckBox{1241, 1}, CheckBox{1245, 2}, CheckBox{1246, 4}, CheckBox{1252, 8},
                                CheckBox{1260, 16}};
constexpr CheckGroup kKvitChecks{"KVITFlags", 0, kKvitBoxes};
constexpr std::array kKvitFields{
    Field{"KvitTimeout", 1243, FieldKind::Number, "120", 1244, 1, 10000},
    Field{"AdmAddr", 1249, FieldKind::Text, ""},
    Field{"MaxErrorRepeat", 1253, FieldKind::Number, "0", 1254, 0, 10000},
    Field{"ErrPeriodRepeat", 1255, FieldKind::Number, "0", 1256, 0, 10000},
};

constexpr std::array kKvitDependencies{
    // The waiting time and its report.
    Dependency{1242, 1241}, Dependency{1243, 1241}, Dependency{1244, 1241}, Dependency{1250, 1241},
    Dependency{1245, 1241}, Dependency{1246, 1241, 1245},
    // The repeated-error group.
    Dependency{1257, 1252}, Dependency{1253, 1252}, Dependency{1254, 1252}, Dependency{1261, 1252},
    Dependency{1262, 1252}, Dependency{1255, 1252}, Dependency{1256, 1252}, Dependency{1258, 1252},
    Dependency{1260, 1252},
};

const std::array kPages{
    PageSpec{"Тармин-Оператор"_w, 1, PageId::Root, 142, &kRootChecks, kRootFields},
    PageSpec{"Каталоги"_w, 2, PageId::Paths, 136, &kPathChecks, kPathFields, nullptr, kPathDependencies},
    PageSpec{"Список E-mail"_w, 2, PageId::Emails, 138, nullptr, {}, &kAddressBookLayout},
    PageSpec{"Перечень пакетов"_w, 2, PageId::SenderLists, 178, nullptr, {}, &kSenderListLayout},
    PageSpec{"Список рассылки"_w, 3, PageId::Packets, 175, nullptr, {}, &kPacketListLayout},
    PageSpec{"Протокол"_w, 2, PageId::Protocol, 140, &kProtocolChecks, kProtocolFields, nullptr,
             kProtocolDependencies},
    PageSpec{"Уведомления"_w, 2, PageId::Notifications, 184, &kKvitChecks, kKvitFields, nullptr,
             kKvitDependencies},
};

} // namespace

std::span<const PageSpec> pageTable() { return kPages; }

const PageSpec &pageSpec(PageId id) {
    for (const PageSpec &page : kPages)
        if (page.id == id) return page;
    return kPages.front();
}

} // namespace tarmin::moncfg
