#include "monitor/logs/LogDirectory.h"

#include "common/codepage.h"
#include "monitor/core/FileNames.h"
#include "platform/lasterror.h"

#include <cerrno>
#include <dirent.h>
#include <sys/stat.h>

namespace tarmin::monitor {

using namespace tarmin::cp::literals;

std::string logDirectoryProblem(const std::string &directory1251) {
    std::string path = fileSystemPath(directory1251);
    while (path.size() > 1 && (path.back() == '/' || path.back() == '\\')) path.pop_back();
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        if (errno == ENOENT || errno == ENOTDIR) return "Каталог протоколов Шлюза "_w + directory1251 + " не найден"_w;
        return "Каталог протоколов Шлюза "_w + directory1251 + " недоступен: "_w + platform::error_text(errno);
    }
    if (!S_ISDIR(st.st_mode)) return "Путь к протоколам Шлюза "_w + directory1251 + " указывает не на каталог"_w;
    DIR *dir = ::opendir(path.c_str());
    if (!dir) return "Каталог протоколов Шлюза "_w + directory1251 + " недоступен: "_w + platform::error_text(errno);
    ::closedir(dir);
    return {};
}

} // namespace tarmin::monitor
