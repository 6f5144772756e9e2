// A master and a slave: two copies of the real pellmar on two loopback ports serving one fresh
// database on the private PostgreSQL, clients of both only through the GM_ functions. The
// clients of both servers meet one set of record locks, table locks, openings, named locks and
// record numbers, and a slave client that goes, however it goes, leaves nothing locked.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "client/gatemillapi.h"
#include "tests/client/support/pellmarserved.h"

namespace {

constexpr int16_t kLocked = -31;
constexpr int16_t kInUse = -15;
constexpr const char* kTable = "SHARED";
constexpr const char* kOther = "SHAREDB";

using gmtest::ErrorOf;

void CreateTable(GM_HANDLE db, const char* name) {
    const GM_HANDLE fields = GM_GetCreateStruct(1, 0, 0);
    ASSERT_NE(fields, 0u);
    ASSERT_NE(GM_SetCreateField(fields, 0, "CODE", 'C', 8, 0, 0), nullptr);
    ASSERT_EQ(GM_CreateFile(db, name, fields), 0) << ErrorOf(db);
}

// Appends n records; the record numbers they got.
std::vector<int32_t> Append(GM_HANDLE db, uint16_t wa, int n) {
    std::vector<int32_t> numbers;
    for (int i = 0; i < n; ++i) {
        GM_InitRecord(db, wa, 0);
        GM_SetInternalFld(db, wa, "CODE", "X");
        if (GM_Write(db, wa, 0) != 0) break;
        numbers.push_back(GM_RecNo(db, wa));
        GM_UnLock(db, wa, static_cast<uint32_t>(numbers.back()));
    }
    return numbers;
}

// The service channel's answer to the sub-code with the key (none when empty).
std::string Internal(GM_HANDLE db, uint8_t subcode, const char* key) {
    char buffer[64] = "";
    std::snprintf(buffer, sizeof buffer, "%s", key);
    if (GM_InternalF(db, subcode, buffer, static_cast<int16_t>(std::strlen(key)), sizeof buffer) <
        0) {
        return "(failed)";
    }
    return buffer;
}

class MasterSlave : public gmtest::PellmarServed<gmtest::PostgresDatabase> {
protected:
    void SetUp() override {
        moreGeneral = "MODE=MASTER\r\n";
        PellmarServed::SetUp();
        if (HasFatalFailure()) return;
        StartSlave();
    }
    void TearDown() override {
        for (GM_HANDLE handle : slaveHandles) {
            GM_DisConnect(handle);
            GM_Release(handle);
        }
        if (slave && slave->Started()) {
            size_t from = 0;
            EXPECT_EQ(slave->StopAnsweringYes(from), 0) << slave->Output();
        }
        slave.reset();
        PellmarServed::TearDown();
    }

    void StartSlave() {
        slaveDir = std::make_unique<gmtest::TempDir>();
        slavePort = gmtest::FreePort();
        ASSERT_NE(slavePort, 0);
        const std::string ini = gmtest::ReadFileText(dir.File("gatemill.ini"));
        std::string slaveIni = ini;
        const std::string portLine = "Port=" + std::to_string(port) + "\r\n";
        slaveIni.replace(slaveIni.find(portLine), portLine.size(),
                         "Port=" + std::to_string(slavePort) + "\r\nMasterServer=127.0.0.1\r\n" +
                             "MasterPort=" + std::to_string(port) + "\r\n");
        slaveIni.replace(slaveIni.find("MODE=MASTER"), 11, "MODE=SLAVE");
        gmtest::WriteFileText(slaveDir->File("gatemill.ini"), slaveIni);
        slave = gmtest::StartPellmar(*slaveDir);
        ASSERT_TRUE(slave->Started());
        ASSERT_TRUE(slave->WaitFor("Listening port " + std::to_string(slavePort) + " \n"))
            << slave->Output();
    }

    GM_HANDLE SlaveConnected() {
        const GM_HANDLE handle = GM_GetGmlConn(0, slavePort);
        slaveHandles.push_back(handle);
        EXPECT_EQ(GM_Connect(handle, "127.0.0.1", Environment().c_str(), "slave client"), 0)
            << slave->Output();
        return handle;
    }
    // The master's lock list, as its monitor gives it.
    std::string MasterLocks() {
        const GM_HANDLE monitor = GM_GetManager(port);
        std::string text = "(no monitor)";
        if (GM_ConnectManager(monitor, "127.0.0.1") == 0) {
            std::vector<char> out(65536);
            if (GM_GetLockInfo(monitor, out.data(), static_cast<uint32_t>(out.size() - 1)) == 0) {
                text = out.data();
            }
            GM_DisconnectManager(monitor);
        }
        GM_ReleaseManager(monitor);
        return text;
    }

    std::unique_ptr<gmtest::TempDir> slaveDir;  // a fresh one for each start
    u16 slavePort = 0;
    std::unique_ptr<gmtest::ProgramRun> slave;
    std::vector<GM_HANDLE> slaveHandles;
};

TEST_F(MasterSlave, ClientsOfBothServersMeetOneSetOfLocks) {
    const GM_HANDLE m = Connected();
    const GM_HANDLE s = SlaveConnected();
    ASSERT_NO_FATAL_FAILURE(CreateTable(m, kTable));
    const int16_t mwa = GM_Open(m, kTable, 0, 0);
    const int16_t swa = GM_Open(s, kTable, 0, 0);
    ASSERT_GT(mwa, 0) << ErrorOf(m);
    ASSERT_GT(swa, 0) << ErrorOf(s);
    ASSERT_EQ(Append(m, mwa, 3).size(), 3u);

    // Record locks, both ways; the refused side learns the holder.
    EXPECT_EQ(GM_Lock(s, swa, 1), 0) << ErrorOf(s);
    EXPECT_EQ(GM_Lock(m, mwa, 1), kLocked);
    EXPECT_EQ(Internal(m, 53, ""), "slave client|");  // the holder's user and comment
    EXPECT_NE(MasterLocks().find("SHARED"), std::string::npos) << MasterLocks();
    EXPECT_EQ(GM_UnLock(s, swa, 1), 0);
    EXPECT_EQ(GM_Lock(m, mwa, 1), 0);
    EXPECT_EQ(GM_Lock(s, swa, 1), kLocked);
    EXPECT_EQ(Internal(s, 53, ""), "gatemill main road|");
    EXPECT_EQ(GM_UnLock(m, mwa, 1), 0);

    // A slave client's table lock refuses the master's clients' record locks until released.
    EXPECT_EQ(GM_FLock(s, swa, 0), 0);
    EXPECT_EQ(GM_Lock(m, mwa, 2), kLocked);
    EXPECT_EQ(GM_FUnLock(s, swa), 0);
    EXPECT_EQ(GM_Lock(m, mwa, 2), 0);
    EXPECT_EQ(GM_UnLock(m, mwa, 2), 0);

    // Named locks. A refused client's holder text: the master holds a slave client's lock with
    // no text, so a master client learns ""; a slave client's own text stays as it was.
    Internal(s, 1, "at the slave");  // the thread comments
    Internal(m, 1, "at the master");
    EXPECT_EQ(Internal(s, 51, "SEQ"), "1");
    EXPECT_EQ(Internal(m, 51, "SEQ"), "0");
    EXPECT_EQ(Internal(m, 54, ""), "");
    EXPECT_EQ(Internal(s, 52, "SEQ"), "1");
    EXPECT_EQ(Internal(m, 51, "SEQ"), "1");
    EXPECT_EQ(Internal(s, 51, "SEQ"), "0");
    EXPECT_EQ(Internal(s, 54, ""), "slave client|at the slave");
    EXPECT_EQ(Internal(m, 52, "SEQ"), "1");

    // An exclusive open on one server makes an open on the other answer -15.
    EXPECT_EQ(GM_Close(m, static_cast<uint16_t>(mwa)), 0);
    EXPECT_EQ(GM_Open(m, kTable, 0, 1), kInUse);
    EXPECT_EQ(GM_Close(s, static_cast<uint16_t>(swa)), 0);
    const int16_t exclusive = GM_Open(m, kTable, 0, 1);
    EXPECT_GT(exclusive, 0) << ErrorOf(m);
    EXPECT_EQ(GM_Open(s, kTable, 0, 0), kInUse);
}

TEST_F(MasterSlave, AppendsOfBothServersGetDistinctConsecutiveNumbers) {
    constexpr int kEach = 500;
    const GM_HANDLE m = Connected();
    const GM_HANDLE s = SlaveConnected();
    ASSERT_NO_FATAL_FAILURE(CreateTable(m, kTable));
    const int16_t mwa = GM_Open(m, kTable, 0, 0);
    const int16_t swa = GM_Open(s, kTable, 0, 0);
    ASSERT_GT(mwa, 0);
    ASSERT_GT(swa, 0);
    std::vector<int32_t> fromMaster;
    std::vector<int32_t> fromSlave;
    std::thread other([&] { fromSlave = Append(s, static_cast<uint16_t>(swa), kEach); });
    fromMaster = Append(m, static_cast<uint16_t>(mwa), kEach);
    other.join();
    ASSERT_EQ(fromMaster.size(), static_cast<size_t>(kEach)) << ErrorOf(m);
    ASSERT_EQ(fromSlave.size(), static_cast<size_t>(kEach)) << ErrorOf(s);
    std::set<int32_t> all(fromMaster.begin(), fromMaster.end());
    all.insert(fromSlave.begin(), fromSlave.end());
    ASSERT_EQ(all.size(), static_cast<size_t>(2 * kEach));
    EXPECT_EQ(*all.rbegin() - *all.begin(), 2 * kEach - 1);
}

// The slave client holds a record lock, a table lock and a named lock; then it goes, by
// disconnecting, with its slave stopped, and with its slave process killed.
TEST_F(MasterSlave, ASlaveClientThatGoesLeavesNothingLockedAtTheMaster) {
    const GM_HANDLE m = Connected();
    ASSERT_NO_FATAL_FAILURE(CreateTable(m, kTable));
    ASSERT_NO_FATAL_FAILURE(CreateTable(m, kOther));
    const int16_t mwa = GM_Open(m, kTable, 0, 0);
    const int16_t mother = GM_Open(m, kOther, 0, 0);
    ASSERT_GT(mwa, 0);
    ASSERT_GT(mother, 0);
    const std::vector<int32_t> appended = Append(m, mwa, 1);
    ASSERT_EQ(appended.size(), 1u);
    const uint32_t record = static_cast<uint32_t>(appended[0]);
    ASSERT_EQ(Append(m, mother, 1).size(), 1u);
    for (const char* way : {"client disconnected", "slave stopped", "slave killed"}) {
        SCOPED_TRACE(way);
        if (!slave) {
            ASSERT_NO_FATAL_FAILURE(StartSlave());
        }
        const GM_HANDLE s = SlaveConnected();
        const int16_t swa = GM_Open(s, kTable, 0, 0);
        const int16_t sother = GM_Open(s, kOther, 0, 0);
        ASSERT_EQ(GM_Lock(s, swa, record), 0) << ErrorOf(s);
        ASSERT_EQ(GM_First(s, sother, 0, 0), 0);  // a table lock reads the current record
        ASSERT_EQ(GM_FLock(s, sother, 0), 0);
        ASSERT_EQ(Internal(s, 51, "SEQ"), "1");
        ASSERT_EQ(GM_Lock(m, mwa, record), kLocked);
        if (std::string(way) == "client disconnected") {
            GM_DisConnect(s);
        } else if (std::string(way) == "slave stopped") {
            size_t from = 0;
            EXPECT_EQ(slave->StopAnsweringYes(from), 0) << slave->Output();
            slave.reset();
        } else {
            slave.reset();  // SIGKILL
        }
        bool released = false;
        for (int i = 0; i < 250 && !released; ++i) {
            released = MasterLocks().find(kTable) == std::string::npos;
            if (!released) std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        EXPECT_TRUE(released) << MasterLocks();
        EXPECT_EQ(GM_Lock(m, mwa, record), 0);
        EXPECT_EQ(GM_FLock(m, mother, 0), 0);
        EXPECT_EQ(Internal(m, 51, "SEQ"), "1");
        EXPECT_EQ(GM_UnLock(m, mwa, record), 0);
        EXPECT_EQ(GM_FUnLock(m, mother), 0);
        EXPECT_EQ(Internal(m, 52, "SEQ"), "1");
    }
}

}  // namespace
