// The exported functions of the crypto UI library: the list prompt and the
// message box. Each runs inside a UiScope and lets no exception escape.
#include "include/qzvoui.h"

#include "cryptoui/CReaderPromt.h"
#include "cryptoui/ui_session.h"

#include <QStringList>

#include <cstdio>
#include <exception>

using namespace tarmin::qzvoui;

namespace {

constexpr int32_t kResultOk = 1;
constexpr int32_t kResultCancel = 2;

QStringList textsOf(const char **texts, int32_t count) {
    QStringList list;
    list.reserve(count);
    for (int32_t i = 0; i < count; ++i) list.append(fromCp1251(texts[i]));
    return list;
}

int32_t getReader(const char **items, int32_t count, const char *prompt, const char **details, int32_t *selected,
                  const char *title) {
    UiScope scope;
    if (!scope.ok()) return kResultCancel;
    CReaderPromt dialog(textsOf(items, count), textsOf(details, count), fromCp1251(prompt), *selected,
                        fromCp1251(title), activeOwner());
    if (runModal(dialog) != QDialog::Accepted || dialog.selectedIndex() < 0) return kResultCancel;
    *selected = dialog.selectedIndex();
    return kResultOk;
}

} // namespace

extern "C" QZVOUI_API int32_t TMN_UIGetReader(const char **items, int32_t count, const char *prompt,
                                              const char **details, int32_t *selected, const char *title) {
    if (!items || count <= 0 || !prompt || !details || !selected) return kResultCancel;
    int32_t result = kResultCancel;
    try {
        result = getReader(items, count, prompt, details, selected, title);
    } catch (const std::exception &e) {
        std::fprintf(stderr, "TMN_UIGetReader: %s\n", e.what());
    } catch (...) {
        std::fprintf(stderr, "TMN_UIGetReader\n");
    }
    return result;
}

extern "C" QZVOUI_API int32_t TMN_UIMessageBox(const char *text, const char *title, uint32_t flags) {
    try {
        UiScope scope;
        if (scope.ok()) {
            showMessageBox(fromCp1251(text), fromCp1251(title), flags);
        } else {
            // No display to show it on: the operator still gets the text.
            std::fprintf(stderr, "%s: %s\n", fromCp1251(title).toUtf8().constData(),
                         fromCp1251(text).toUtf8().constData());
        }
    } catch (...) {
        std::fprintf(stderr, "TMN_UIMessageBox\n");
    }
    return 1;
}
