#pragma once

#include <QString>
#include <string>
#include <string_view>

namespace tavrel::gui {

// The core's texts are UTF-8; Qt's are UTF-16.
inline QString ToQt(std::string_view utf8) {
    return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

inline std::string ToUtf8(const QString& text) {
    return text.toStdString();
}

}  // namespace tavrel::gui
