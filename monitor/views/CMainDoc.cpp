#include "monitor/views/CMainDoc.h"

namespace tarmin::monitor {

void CMainDoc::attachViews(CLeftView *tree, CMonView *list) {
    m_tree = tree;
    m_list = list;
}

} // namespace tarmin::monitor
