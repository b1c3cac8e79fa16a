// The monitor's document. It holds no data of its own: the records live in
// the record list (CMonView). It ties the two panes together for the frame.
#pragma once

#include <QObject>

namespace tarmin::monitor {

class CLeftView;
class CMonView;

class CMainDoc : public QObject {
    Q_OBJECT
public:
    explicit CMainDoc(QObject *parent = nullptr) : QObject(parent) {}

    void attachViews(CLeftView *tree, CMonView *list);
    CLeftView *tree() const { return m_tree; }
    CMonView *list() const { return m_list; }

private:
    CLeftView *m_tree = nullptr;
    CMonView *m_list = nullptr;
};

} // namespace tarmin::monitor
