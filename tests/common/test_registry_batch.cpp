// Write batches of the settings store: the writes of a batch are read at once
// by this process and by no other before the batch is committed; dropping
// the batch, or finalising without ending it, leaves the store as it was;
// batches do not nest, and a read-only store refuses them.
#include "qzcom.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr const char *kProduct = "tarmin-operator";

std::string listKey() { return std::string(QZ_GetProductKeyName()) + "\\PacketList"; }

// The value as another process reads it: 100 + the value (below 100), or 1
// when it is absent.
int readInAnotherProcess(const std::string &key, const char *name) {
    const pid_t child = ::fork();
    if (child == 0) {
        QZ_DWORD value = 0;
        ::_exit(QZ_GetKeyDword(key.c_str(), name, &value) == 0 ? static_cast<int>(value % 100) + 100 : 1);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::optional<QZ_DWORD> number(const std::string &key, const char *name) {
    QZ_DWORD value = 0;
    if (QZ_GetKeyDword(key.c_str(), name, &value) != 0) return std::nullopt;
    return value;
}

} // namespace

TEST(RegistryBatch, WritesAreSeenByOthersOnlyWhenCommitted) {
    ASSERT_EQ(QZ_InitializeWithProfile(kProduct, "batch", QZ_VERSION), 0);
    ASSERT_EQ(QZ_SetKeyDword(listKey().c_str(), "PacketListNum", 1, 0), 0);

    ASSERT_EQ(QZ_BeginWriteBatch(), 0);
    EXPECT_NE(QZ_BeginWriteBatch(), 0) << "batches do not nest";
    ASSERT_EQ(QZ_DeleteKey(listKey().c_str(), 0), 0);
    for (QZ_DWORD i = 0; i < 50; ++i)
        ASSERT_EQ(QZ_SetKeyDword((listKey() + "\\" + std::to_string(i)).c_str(), "GWType", i, 0), 0);
    ASSERT_EQ(QZ_SetKeyDword(listKey().c_str(), "PacketListNum", 50, 0), 0);
    EXPECT_EQ(number(listKey(), "PacketListNum"), 50u);
    EXPECT_EQ(number(listKey() + "\\49", "GWType"), 49u);
    EXPECT_EQ(readInAnotherProcess(listKey(), "PacketListNum"), 101) << "the old list until the commit";
    EXPECT_EQ(readInAnotherProcess(listKey() + "\\49", "GWType"), 1);
    ASSERT_EQ(QZ_EndWriteBatch(1), 0);
    EXPECT_EQ(readInAnotherProcess(listKey(), "PacketListNum"), 150);
    EXPECT_EQ(readInAnotherProcess(listKey() + "\\49", "GWType"), 149);
    EXPECT_NE(QZ_EndWriteBatch(1), 0) << "no batch is open";

    // Writes outside a batch are committed one by one again.
    ASSERT_EQ(QZ_SetKeyDword(listKey().c_str(), "PacketListNum", 7, 0), 0);
    EXPECT_EQ(readInAnotherProcess(listKey(), "PacketListNum"), 107);
    QZ_Finalize();
}

TEST(RegistryBatch, DroppedOrUnfinishedBatchesLeaveTheStoreAsItWas) {
    ASSERT_EQ(QZ_InitializeWithProfile(kProduct, "dropped", QZ_VERSION), 0);
    ASSERT_EQ(QZ_SetKeyDword(listKey().c_str(), "PacketListNum", 2, 0), 0);

    ASSERT_EQ(QZ_BeginWriteBatch(), 0);
    ASSERT_EQ(QZ_DeleteKey(listKey().c_str(), 0), 0);
    EXPECT_EQ(number(listKey(), "PacketListNum"), std::nullopt);
    ASSERT_EQ(QZ_EndWriteBatch(0), 0);
    EXPECT_EQ(number(listKey(), "PacketListNum"), 2u);

    ASSERT_EQ(QZ_BeginWriteBatch(), 0);
    ASSERT_EQ(QZ_SetKeyDword(listKey().c_str(), "PacketListNum", 3, 0), 0);
    QZ_Finalize();
    ASSERT_EQ(QZ_InitializeWithProfile(kProduct, "dropped", QZ_VERSION), 0);
    EXPECT_EQ(number(listKey(), "PacketListNum"), 2u);
    EXPECT_NE(QZ_EndWriteBatch(1), 0) << "the batch ended with the connection";
    ASSERT_EQ(QZ_BeginWriteBatch(), 0);
    ASSERT_EQ(QZ_EndWriteBatch(1), 0);
    QZ_Finalize();

    ::setenv("TARMIN_REGISTRY_READONLY", "1", 1);
    ASSERT_EQ(QZ_InitializeWithProfile(kProduct, "dropped", QZ_VERSION), 0);
    EXPECT_NE(QZ_BeginWriteBatch(), 0);
    EXPECT_NE(QZ_SetKeyDword(listKey().c_str(), "PacketListNum", 4, 0), 0);
    QZ_Finalize();
    ::unsetenv("TARMIN_REGISTRY_READONLY");
}
