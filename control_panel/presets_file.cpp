#include "presets_file.h"

#include <QFile>

namespace quendel {

bool writePresetsFile(const QString& path, const std::string& document) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text)) {
        return false;
    }
    file.write(document.data(), static_cast<qint64>(document.size()));
    file.close();
    return file.error() == QFileDevice::NoError;
}

}  // namespace quendel
