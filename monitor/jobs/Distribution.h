// Sending distribution packets: the packets the distribution wizard loaded,
// the data of one wizard run (copied whole into each automatic sending
// window), and the run that writes one packet job per packet on a worker
// thread. UI-free: the wizard's pages and the automatic sending windows
// (monitor/views) drive it and show what it leaves in the data.
#pragma once

#include "monitor/core/OperatorContext.h"
#include "monitor/lists/PacketSettings.h"

#include <atomic>
#include <ctime>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace tarmin::monitor {

// Results of a packet's last run (the job writer's results).
enum PacketState : int {
    kPacketFailed = 0, // "Ошибка"; also a packet that never ran
    kPacketSent = 1,   // "OK"; also a packet that was not selected
    kPacketEmpty = 2,  // "Нет данных": nothing to send, or a file still held by its writer
};

// One distribution packet.
struct CDistrib {
    PacketSettings settings;
    bool selected = true;
    int state = kPacketFailed;
    std::vector<std::string> files; // found at the last run (file-system paths)
};

// The cryptographic context a run signs with. Copies share it; a context the
// wizard opened for itself is released when the last copy goes (the
// automatic sending windows of one wizard run keep it open between them).
using SharedOperatorContext = std::shared_ptr<const OperatorContext>;
// The context opened at start-up: shared, never released through this.
SharedOperatorContext borrowedContext(const OperatorContext &context);
// A context of the wizard's own, released (and freed) with its last copy.
SharedOperatorContext ownedContext(std::unique_ptr<OperatorContext> context);

// The data of one wizard run.
struct DistributionData {
    bool again = false;        // run the wizard again after Finish
    std::string listName;      // the greeting page's choice (Windows-1251)
    bool manual = false;       // the packets were chosen by hand
    uint32_t senderListIndex = 0;
    std::vector<CDistrib> packets;
    bool periodic = false;
    uint32_t periodMinutes = 15;
    SharedOperatorContext context;
};

inline constexpr uint32_t kMinPeriodMinutes = 5;
inline constexpr uint32_t kMaxPeriodMinutes = 65535;

// Packets made from the loaded settings, all selected, state 0.
std::vector<CDistrib> makePackets(std::vector<PacketSettings> settings);

// Writes one packet job per packet, in order (an unselected packet is passed
// over with state 1). A failed packet ends the run; the packets after it keep
// the states of their previous run. A packet with nothing to send is reported
// as event 0xA00E0001 (and the reports shown) unless the run is periodic.
// `stop` is looked at between packets, never inside a job: once set, the
// packets not yet begun are left as they are. Returns the number of packets
// begun.
size_t sendPackets(DistributionData &data, const std::atomic<bool> &stop);

// The result text of a state: "Ошибка", "OK" or "Нет данных" (Windows-1251).
const char *packetStateText(int state);
// "Рассылка <number>: <result>" for every selected packet, in order.
std::vector<std::string> packetResultLines(const std::vector<CDistrib> &packets);
// The result of a whole run: 0 when any packet failed, else 1 when any
// selected packet was sent, else 2.
int overallState(const std::vector<CDistrib> &packets);
// The time of a finished run, "yyyy.mm.dd hh:mm:ss".
std::string runTimeText(const std::tm &local);

// One sending run on a worker thread, over data that the owner keeps and
// does not touch until the run has finished. The owner waits for the run
// (requestStop, then wait) before it lets the data go.
class DistributionRun {
public:
    DistributionRun() = default;
    ~DistributionRun();
    DistributionRun(const DistributionRun &) = delete;
    DistributionRun &operator=(const DistributionRun &) = delete;

    // Starts sendPackets(data) on a new thread; `finished` is called on that
    // thread when the run has ended (the owner posts it to its own thread).
    // False when a run is still going or no thread could be made.
    bool start(DistributionData &data, std::function<void()> finished);
    // Asks the run to end before its next packet.
    void requestStop() { m_stop = true; }
    // True from start until the worker has called `finished`.
    bool running() const { return m_running; }
    // Joins the worker thread (returns at once when there is none).
    void join();

private:
    std::thread m_thread;
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_running{false};
};

} // namespace tarmin::monitor
