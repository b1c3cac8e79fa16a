#include "monitor/views/model/NotificationCounts.h"

#include "common/codepage.h"

namespace tarmin::monitor {

ReceiptResult receiptResult(std::string_view status) {
    if (cp::iequals_1251(status, "OK")) return ReceiptResult::Confirmed;
    if (cp::iequals_1251(status, "ER")) return ReceiptResult::Failed;
    return ReceiptResult::Waiting;
}

ReceiptResult NotificationCounts::add(std::string_view status) {
    const ReceiptResult result = receiptResult(status);
    ++recipients;
    if (result == ReceiptResult::Confirmed) ++confirmed;
    if (result == ReceiptResult::Failed) ++failed;
    return result;
}

} // namespace tarmin::monitor
