#include "monitor/views/MessageBoxes.h"

#include <QAbstractButton>
#include <QMessageBox>

#include <utility>

namespace tarmin::monitor {

namespace {

QMessageBox::Icon toQt(MsgIcon icon) {
    switch (icon) {
    case MsgIcon::Information: return QMessageBox::Information;
    case MsgIcon::Warning: return QMessageBox::Warning;
    case MsgIcon::Error: return QMessageBox::Critical;
    case MsgIcon::Question: return QMessageBox::Question;
    case MsgIcon::None: break;
    }
    return QMessageBox::NoIcon;
}

QMessageBox::StandardButtons toQt(MsgButtons buttons) {
    switch (buttons) {
    case MsgButtons::Ok: return QMessageBox::Ok;
    case MsgButtons::OkCancel: return QMessageBox::Ok | QMessageBox::Cancel;
    case MsgButtons::YesNo: return QMessageBox::Yes | QMessageBox::No;
    case MsgButtons::YesNoCancel: return QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel;
    case MsgButtons::RetryCancel: return QMessageBox::Retry | QMessageBox::Cancel;
    }
    return QMessageBox::Ok;
}

int fromQt(int button) {
    switch (button) {
    case QMessageBox::Ok: return kAnswerOk;
    case QMessageBox::Yes: return kAnswerYes;
    case QMessageBox::No: return kAnswerNo;
    case QMessageBox::Retry: return kAnswerRetry;
    default: return kAnswerCancel;
    }
}

class QtMessageBoxHandler final : public MessageBoxHandler {
public:
    int show(const MessageRequest &request) override {
        QMessageBox box(toQt(request.icon), request.caption, request.text, toQt(request.buttons), request.parent);
        box.setTextInteractionFlags(Qt::TextSelectableByMouse);
        // The system's Russian button texts ("OK" reads the same).
        for (auto [button, text] : {std::pair{QMessageBox::Cancel, "Отмена"}, {QMessageBox::Yes, "Да"},
                                    {QMessageBox::No, "Нет"}, {QMessageBox::Retry, "Повтор"}})
            if (QAbstractButton *b = box.button(button)) b->setText(QString::fromUtf8(text));
        return fromQt(box.exec());
    }
};

QtMessageBoxHandler g_qtHandler;
MessageBoxHandler *g_handler = &g_qtHandler;

} // namespace

QString programCaption() { return QStringLiteral("АРМ Оператора Тармин-Шлюз"); }

int messageBox(const MessageRequest &request) {
    MessageRequest r = request;
    if (r.caption.isEmpty()) r.caption = programCaption();
    return g_handler->show(r);
}

int messageBox(QWidget *parent, const QString &text, MsgIcon icon, MsgButtons buttons) {
    MessageRequest r;
    r.parent = parent;
    r.text = text;
    r.icon = icon;
    r.buttons = buttons;
    return messageBox(r);
}

MessageBoxHandler *setMessageBoxHandler(MessageBoxHandler *handler) {
    MessageBoxHandler *previous = g_handler == &g_qtHandler ? nullptr : g_handler;
    g_handler = handler ? handler : &g_qtHandler;
    return previous;
}

} // namespace tarmin::monitor
