#include "Counter/Counter.h"

#include <QString>

std::string upper(const std::string& text) { return QString::fromStdString(text).toUpper().toStdString(); }
