#include "monitor/views/ModalRunner.h"

#include <QDialog>

namespace tarmin::monitor {

namespace {
ModalHook *g_hook = nullptr;
}

int runModal(QDialog &dialog) {
    if (g_hook) return g_hook->run(dialog);
    return dialog.exec();
}

ModalHook *setModalHook(ModalHook *hook) {
    ModalHook *previous = g_hook;
    g_hook = hook;
    return previous;
}

} // namespace tarmin::monitor
