#include "scan/SaveClash.h"

#include <QFile>

#include "ui/ProgramText.h"

namespace dravix {

QString SaveClash(const std::vector<std::pair<QString, FileRole>>& taken, const QString& target,
                  FileRole role) {
    std::vector<ActionFile> files;
    for (const auto& [path, takenRole] : taken)
        files.push_back({QFile::encodeName(path).toStdString(), takenRole});
    files.push_back({QFile::encodeName(target).toStdString(), role});
    return ProgramText(OutputClash(files, "window"));
}

}  // namespace dravix
