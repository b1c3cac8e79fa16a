// The settings round trip: every page filled through the configuration
// window's real controls and item dialogs, offscreen, saved with
// "&Применить", then read back the way the monitor reads them (its settings
// reader, the signing wizard's address book, the distribution wizard's
// packets and sender lists). Cyrillic texts cross as Windows-1251.
#include "common/codepage.h"
#include "moncfg/gui/CConfigPage.h"
#include "moncfg/gui/CFpconfigDlg.h"
#include "moncfg/gui/CListPage.h"
#include "monitor/core/MonitorSettings.h"
#include "monitor/jobs/SignMessage.h"
#include "monitor/lists/PacketSettings.h"
#include "qzcom.h"
#include "scripted_operator.h"

#include "testsupport.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QListWidget>
#include <QPushButton>
#include <QTreeWidget>

#include <cstdlib>

using namespace tarmin;
using namespace tarmin::moncfg;
using namespace tarmin::moncfg::test;
using namespace tarmin::cp::literals;

namespace {

ScriptedOperator::Script addressOnly(const QString &type, const QString &address) {
    return [=](QDialog &dialog) {
        child<QComboBox>(dialog, QStringLiteral("type"))->setCurrentText(type);
        typeInto(child(dialog, QStringLiteral("email")), address);
        dialog.accept();
    };
}

ScriptedOperator::Script bookEntry(const QString &address, const QString &name) {
    return [=](QDialog &dialog) {
        typeInto(child(dialog, QStringLiteral("email")), address);
        typeInto(child(dialog, QStringLiteral("name")), name);
        dialog.accept();
    };
}

ScriptedOperator::Script packet(const QString &path, const QString &subject, bool sign, bool operatorSign,
                                ScriptedOperator &op) {
    return [=, &op](QDialog &dialog) {
        typeInto(child(dialog, QStringLiteral("path")), path);
        typeInto(child(dialog, QStringLiteral("subject")), subject);
        typeInto(child(dialog, QStringLiteral("mask")), QStringLiteral("*.xml"));
        typeInto(child(dialog, QStringLiteral("sender")), QStringLiteral("oper@банк.рф"));
        child<QCheckBox>(dialog, QStringLiteral("sign"))->setChecked(sign);
        child<QCheckBox>(dialog, QStringLiteral("operatorSign"))->setChecked(operatorSign);
        op.dialogs.push_front(addressOnly(QStringLiteral("SMTP:"), QStringLiteral("получатель@cb.ru")));
        click(dialog, QStringLiteral("addRecipient"));
        dialog.accept();
    };
}

} // namespace

TEST(ConfigRoundTrip, WhatTheWindowSavesIsWhatTheMonitorReads) {
    const auto temp = tarmin::test::make_temp_dir("temp");
    ::setenv("TEMP", temp.c_str(), 1);
    ASSERT_EQ(QZ_InitializeWithProfile("tarmin-operator", "round-trip", QZ_VERSION), 0);
    ScriptedOperator op;
    {
        CFpconfigDlg window("round-trip", false);
        const CConfigPage &root = *window.page(142);
        click(root, 1237);
        typeInto(child(root, 1238), QStringLiteral("30"));

        const CConfigPage &paths = *window.page(136);
        typeInto(child(paths, 1167), QStringLiteral("/srv/шлюз/вход"));
        typeInto(child(paths, 1169), QStringLiteral("/srv/шлюз/журнал"));
        click(paths, 1263);
        typeInto(child(paths, 1265), QStringLiteral("7"));

        const CConfigPage &protocol = *window.page(140);
        typeInto(child(protocol, 1031), QStringLiteral("%TEMP%/оператор/"));
        click(protocol, 1070);

        const CConfigPage &kvit = *window.page(184);
        for (int box : {1241, 1245, 1246, 1252, 1260}) click(kvit, box);
        typeInto(child(kvit, 1243), QStringLiteral("90"));
        typeInto(child(kvit, 1253), QStringLiteral("3"));
        typeInto(child(kvit, 1255), QStringLiteral("15"));
        op.dialogs = {addressOnly(QStringLiteral("SMTP:"), QStringLiteral("админ@банк.рф"))};
        click(kvit, 1251);

        const CConfigPage &book = *window.page(138);
        op.dialogs = {bookEntry(QStringLiteral("ivanov@bank.ru"), QStringLiteral("Иванов И.И.")),
                      bookEntry(QStringLiteral("Petrov/Bank"), QStringLiteral("Петров П.П."))};
        click(book, 1206);
        click(book, 1206);

        const CConfigPage &packets = *window.page(175);
        op.dialogs = {packet(QStringLiteral("/srv/отчёты"), QStringLiteral("Отчёт за день"), true, true, op),
                      packet(QStringLiteral("/srv/баланс/"), {}, false, false, op)};
        click(packets, 1175);
        click(packets, 1175);

        const CConfigPage &senders = *window.page(178);
        op.dialogs = {[](QDialog &dialog) {
                          typeInto(child(dialog, QStringLiteral("name")), QStringLiteral("Вечерняя рассылка"));
                          click(dialog, QStringLiteral("add"));
                          dialog.accept();
                      },
                      [](QDialog &dialog) {
                          auto *list = child<QTreeWidget>(dialog, QStringLiteral("list"));
                          list->topLevelItem(1)->setSelected(true);
                          list->topLevelItem(0)->setSelected(true);
                          dialog.accept();
                      }};
        click(senders, 1175);

        EXPECT_TRUE(op.dialogs.empty());
        EXPECT_TRUE(op.messages.empty());
        window.applyButton()->click();
        EXPECT_FALSE(window.isModified());
        EXPECT_TRUE(op.messages.empty());
    }

    // The monitor's settings reader.
    const monitor::StartupSettings startup = monitor::readStartupSettings();
    EXPECT_TRUE(startup.logDirectoryReadable);
    EXPECT_EQ(startup.logDirectory, "/srv/шлюз/журнал/"_w);
    EXPECT_EQ(startup.protectionFlags, monitor::kProtectionBeep);
    EXPECT_EQ(startup.eventDirectory, temp.string() + "/оператор/") << "expanded, in the file system's encoding";
    const monitor::RefreshSettings refresh = monitor::readRefreshSettings();
    EXPECT_TRUE(refresh.beep);
    EXPECT_EQ(refresh.refreshSeconds, 30u);
    const monitor::DayLimit days = monitor::readDayLimit();
    EXPECT_TRUE(days.active());
    EXPECT_EQ(days.loadDays(), 7u);
    const monitor::ErrorsReadingSettings errors = monitor::readErrorsReadingSettings();
    EXPECT_EQ(errors.kvitFlags, 31u);
    EXPECT_EQ(errors.maxErrorRepeat, 3u);
    EXPECT_EQ(errors.errPeriodRepeat, 15u);
    EXPECT_EQ(errors.outputDirectory, "/srv/шлюз/вход"_w);
    EXPECT_EQ(errors.admAddr, "SMTP:админ@банк.рф"_w);
    EXPECT_TRUE(errors.countErrors());
    EXPECT_EQ(errors.numerousAlertRecipient(), "SMTP:админ@банк.рф"_w);
    EXPECT_EQ(monitor::readNotificationsSettings().kvitTimeout, 90u);
    QZ_DWORD period = 0;
    EXPECT_EQ(QZ_GetDword(QZ_GetSettingsKey(0), "Update period", &period, 1), 0);
    EXPECT_EQ(period, 4u);

    // The signing wizard's address book.
    const monitor::AddressBook book = monitor::readAddressBook();
    EXPECT_EQ(book.entries, (std::vector<std::string>{"Иванов И.И. (SMTP:ivanov@bank.ru)"_w,
                                                      "Петров П.П. (SMTP:Petrov/Bank)"_w}));

    // The distribution wizard's packets and sender lists.
    ASSERT_EQ(monitor::readPacketCount(), 2u);
    const std::vector<monitor::PacketSettings> all = monitor::loadPackets(2);
    ASSERT_EQ(all.size(), 2u);
    EXPECT_EQ(all[0].packetNumber, "1");
    EXPECT_EQ(all[0].path, "/srv/отчёты/"_w);
    EXPECT_EQ(all[0].subject, "Отчёт за день"_w);
    EXPECT_EQ(all[0].mask, "*.xml");
    EXPECT_EQ(all[0].from, "SMTP:oper@банк.рф"_w);
    EXPECT_EQ(all[0].gatewayProtection, 3u);
    EXPECT_TRUE(all[0].signAtWorkstation);
    EXPECT_FALSE(all[0].keepFiles);
    EXPECT_EQ(all[0].recipients, std::vector<std::string>{"SMTP:получатель@cb.ru"_w});
    EXPECT_EQ(all[1].packetNumber, "2");
    EXPECT_EQ(all[1].path, "/srv/баланс/"_w);
    EXPECT_EQ(all[1].subject, "Рассылка 2"_w) << "an empty subject takes the wizard's default";
    EXPECT_EQ(all[1].gatewayProtection, 1u);
    EXPECT_FALSE(all[1].signAtWorkstation);

    const std::vector<monitor::SenderListName> lists = monitor::readSenderListNames();
    ASSERT_EQ(lists.size(), 1u);
    EXPECT_EQ(lists[0].name, "Вечерняя рассылка"_w);
    const std::optional<std::string> numbers = monitor::readSenderPackets(lists[0].index);
    ASSERT_TRUE(numbers);
    EXPECT_EQ(*numbers, "1,2");
    const std::vector<monitor::PacketSettings> chosen =
        monitor::packetsByNumber(monitor::senderPacketNumbers(*numbers), all);
    ASSERT_EQ(chosen.size(), 2u);
    EXPECT_EQ(chosen[1].path, all[1].path);

    // Opened again, the window shows what was saved and has nothing to save.
    {
        CFpconfigDlg window("round-trip", false);
        EXPECT_EQ(child<QLineEdit>(*window.page(140), 1031)->text(), QStringLiteral("%TEMP%/оператор/"));
        EXPECT_EQ(child<QLineEdit>(*window.page(184), 1249)->text(), QStringLiteral("SMTP:админ@банк.рф"));
        EXPECT_EQ(static_cast<CListPage *>(window.page(178))->list()->topLevelItem(0)->text(1), QStringLiteral("1,2"));
        EXPECT_FALSE(window.isModified());
    }
    QZ_Finalize();
}
