#include "Counter/Counter.h"

#include <QString>
#include <QStringList>

int countWords(const std::string& text) {
  return static_cast<int>(QString::fromStdString(text).split(' ', Qt::SkipEmptyParts).size());
}
