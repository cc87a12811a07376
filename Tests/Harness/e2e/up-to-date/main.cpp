#include "Counter/Counter.h"

#include <cstdio>

int main() {
  std::printf("%d %s\n", countWords("two words"), upper("x").c_str());
  return 0;
}
