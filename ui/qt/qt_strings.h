// Text between the dialog facade's UTF-8 strings and Qt's.
#pragma once

#include <QString>

#include <string>

namespace ui::qt {

inline QString Q(const std::string& text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}
inline std::string S(const QString& text) { return text.toUtf8().toStdString(); }

}  // namespace ui::qt
