#pragma once

#include <QString>
#include <string>

namespace quendel {

// Widget text goes into the table as UTF-8; table text goes back to widgets as Latin-1.
inline std::string toTableText(const QString& text) {
    return text.toUtf8().toStdString();
}
inline QString toWidgetText(const std::string& text) {
    return QString::fromLatin1(text.c_str());
}

}  // namespace quendel
