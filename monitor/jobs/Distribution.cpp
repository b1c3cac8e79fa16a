#include "monitor/jobs/Distribution.h"

#include "common/codepage.h"
#include "monitor/jobs/GatewayJob.h"
#include "monitor/lists/ListSettings.h"
#include "qzcom.h"

#include <cstdio>
#include <system_error>

namespace tarmin::monitor {

using namespace tarmin::cp::literals;

namespace {

constexpr QZ_DWORD kEventNothingToSend = 0xA00E0001;
constexpr QZ_DWORD kEventContextMissing = 0xE0070006;

GatewayJob packetJob(const CDistrib &packet, const OperatorContext *context) {
    const PacketSettings &s = packet.settings;
    GatewayJob job;
    job.subject = s.subject;
    job.from = s.from;
    job.encryptOnGateway = (s.gatewayProtection & kGatewayEncrypts) != 0;
    job.signOnGateway = (s.gatewayProtection & kGatewaySigns) != 0;
    job.recipients = s.recipients;
    job.signAtWorkstation = s.signAtWorkstation;
    job.deleteSources = !s.keepFiles;
    if (context) {
        job.context = context->handle();
        job.ownCert = context->certificate();
        job.signerName = context->subjectName() ? context->subjectName() : "";
    }
    job.packet = PacketSource{s.path, s.mask, packet.selected, packet.state};
    return job;
}

} // namespace

SharedOperatorContext borrowedContext(const OperatorContext &context) {
    return SharedOperatorContext(&context, [](const OperatorContext *) {});
}

SharedOperatorContext ownedContext(std::unique_ptr<OperatorContext> context) {
    return SharedOperatorContext(context.release(), [](const OperatorContext *c) {
        const_cast<OperatorContext *>(c)->release();
        delete c;
    });
}

std::vector<CDistrib> makePackets(std::vector<PacketSettings> settings) {
    std::vector<CDistrib> packets;
    packets.reserve(settings.size());
    for (PacketSettings &s : settings) {
        CDistrib packet;
        packet.settings = std::move(s);
        packets.push_back(std::move(packet));
    }
    return packets;
}

size_t sendPackets(DistributionData &data, const std::atomic<bool> &stop) {
    size_t begun = 0;
    for (CDistrib &packet : data.packets) {
        if (stop) break;
        ++begun;
        // A packet signed at the workstation needs the operator's context;
        // without one it fails (reported) instead of signing with nothing.
        if (packet.selected && packet.settings.signAtWorkstation && !(data.context && data.context->isOpen())) {
            packet.state = kPacketFailed;
            QZ_ReportEvent(QZ_LEVEL_SUMMARY, kEventContextMissing);
            QZ_ShowReports(nullptr, 3);
            break;
        }
        GatewayJob job = packetJob(packet, data.context.get());
        const int result = WriteGatewayJob(job);
        packet.state = job.packet->state;
        packet.files = std::move(job.attachments);
        if (result == kJobFailed) break;
        if (result == kJobSkipped && !data.periodic) {
            QZ_ReportEvent(QZ_LEVEL_DETAIL, kEventNothingToSend, packet.settings.packetNumber.c_str());
            QZ_ShowReports(nullptr, 1);
        }
    }
    return begun;
}

const char *packetStateText(int state) {
    switch (state) {
    case kPacketSent: return "OK";
    case kPacketEmpty: return "Нет данных"_w;
    default: return "Ошибка"_w;
    }
}

std::vector<std::string> packetResultLines(const std::vector<CDistrib> &packets) {
    std::vector<std::string> lines;
    for (const CDistrib &packet : packets)
        if (packet.selected)
            lines.push_back("Рассылка "_w + packet.settings.packetNumber + ": " + packetStateText(packet.state));
    return lines;
}

int overallState(const std::vector<CDistrib> &packets) {
    bool sent = false;
    for (const CDistrib &packet : packets) {
        if (packet.state == kPacketFailed) return kPacketFailed;
        if (packet.selected && packet.state == kPacketSent) sent = true;
    }
    return sent ? kPacketSent : kPacketEmpty;
}

std::string runTimeText(const std::tm &local) {
    char text[64];
    std::snprintf(text, sizeof text, "%4d.%02d.%02d %02d:%02d:%02d", local.tm_year + 1900, local.tm_mon + 1,
                  local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
    return text;
}

DistributionRun::~DistributionRun() {
    requestStop();
    join();
}

bool DistributionRun::start(DistributionData &data, std::function<void()> finished) {
    if (m_running) return false;
    join();
    m_stop = false;
    m_running = true;
    try {
        m_thread = std::thread([this, &data, finished = std::move(finished)] {
            sendPackets(data, m_stop);
            m_running = false;
            if (finished) finished();
        });
    } catch (const std::system_error &) {
        m_running = false;
        return false;
    }
    return true;
}

void DistributionRun::join() {
    if (m_thread.joinable()) m_thread.join();
}

} // namespace tarmin::monitor
